#include "svelmoracomtiming.h"
#include "velmoraexchange.h"
#include "velmorareceiverformat.h"

#include <QtTest>

#include <limits>

// Expected bytes are written out by hand from the Surgard receiver format:
// "5", receiver, line, space, "18", account, qualifier letter, code, group,
// zone, optional time, 0x14.
class TestVelmoraReceiverFormat : public QObject
{
    Q_OBJECT

private slots:
    void eventLine_data();
    void eventLine();
    void keepaliveLine_data();
    void keepaliveLine();
    void configuredTexts_data();
    void configuredTexts();
    void keepalivePeriod_data();
    void keepalivePeriod();
    void answerDeadline_data();
    void answerDeadline();
    void eventAttempt_data();
    void eventAttempt();
};

namespace {

// messageType is filled to show that it never reaches the line.
SVelmoraMsg makeEvent(const QString &account, const QString &code, const QString &group,
                  const QString &zone, const QString &time = QStringLiteral("14:05:09-06/12"))
{
    SVelmoraMsg msg;
    msg.account = account;
    msg.event = code;
    msg.group = group;
    msg.zone = zone;
    msg.messageType = QStringLiteral("99");
    msg.time = time;
    return msg;
}

using Outcome = VelmoraReceiverFormat::AttemptOutcome;

} // namespace

Q_DECLARE_METATYPE(Outcome)

void TestVelmoraReceiverFormat::eventLine_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("line");
    QTest::addColumn<SVelmoraMsg>("msg");
    QTest::addColumn<bool>("appendTime");
    QTest::addColumn<QByteArray>("bytes");

    const SVelmoraMsg example = makeEvent("0012AB", "1401", "01", "003");
    QTest::newRow("worked example, no time")
        << "01" << "1" << example << false
        << QByteArray::fromHex("353031312031383132414245343031303130303314");
    QTest::newRow("worked example, time appended")
        << "01" << "1" << example << true << QByteArray("5011 1812ABE40101003" "14:05:09-06/12\x14");
    QTest::newRow("three-digit receiver, long line")
        << "123" << "45" << example << false << QByteArray("512345 1812ABE40101003\x14");
    QTest::newRow("account of four kept whole")
        << "01" << "1" << makeEvent("12AB", "1130", "02", "010") << false
        << QByteArray("5011 1812ABE13002010\x14");
    QTest::newRow("account of five loses two")
        << "01" << "1" << makeEvent("012AB", "1130", "02", "010") << false
        << QByteArray("5011 182ABE13002010\x14");
    QTest::newRow("account of three kept whole")
        << "01" << "1" << makeEvent("2AB", "1130", "02", "010") << false
        << QByteArray("5011 182ABE13002010\x14");
    QTest::newRow("qualifier 3 is a restore")
        << "01" << "1" << makeEvent("0012AB", "3401", "01", "003") << false
        << QByteArray("5011 1812ABR40101003\x14");
    QTest::newRow("qualifier 6 is a restore too")
        << "01" << "1" << makeEvent("0012AB", "6130", "01", "003") << false
        << QByteArray("5011 1812ABR13001003\x14");
    QTest::newRow("periodic test record")
        << "01" << "1" << makeEvent("0012AB", "1602", "00", "000") << false
        << QByteArray("5011 1812ABE60200000\x14");
    QTest::newRow("empty event contributes nothing")
        << "01" << "1" << makeEvent("0012AB", "", "01", "003") << false
        << QByteArray("5011 1812AB01003\x14");
    QTest::newRow("long zone written whole")
        << "01" << "1" << makeEvent("0012AB", "1130", "01", "0042") << false
        << QByteArray("5011 1812ABE130010042\x14");
}

void TestVelmoraReceiverFormat::eventLine()
{
    QFETCH(QString, server);
    QFETCH(QString, line);
    QFETCH(SVelmoraMsg, msg);
    QFETCH(bool, appendTime);
    QFETCH(QByteArray, bytes);

    const QString text = VelmoraReceiverFormat::eventLine(server, line, msg, appendTime);
    QCOMPARE(text.toLocal8Bit(), bytes);
}

void TestVelmoraReceiverFormat::keepaliveLine_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("defaults")
        << "01" << "1"
        << QByteArray::fromHex("31303131" "2020202020202020202020" "40" "20202020" "14");
    QTest::newRow("three-digit receiver") << "123" << "2" << QByteArray("11232           @    \x14");
}

void TestVelmoraReceiverFormat::keepaliveLine()
{
    QFETCH(QString, server);
    QFETCH(QString, line);
    QFETCH(QByteArray, bytes);
    QCOMPARE(VelmoraReceiverFormat::keepaliveLine(server, line).toLocal8Bit(), bytes);
}

void TestVelmoraReceiverFormat::configuredTexts_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("serverSent");
    QTest::addColumn<QString>("lineSent");

    QTest::newRow("defaults") << "01" << "1" << "01" << "1";
    QTest::newRow("receiver 7 padded") << "7" << "3" << "07" << "3";
    QTest::newRow("receiver 123 kept") << "123" << "12" << "123" << "12";
    QTest::newRow("both empty") << "" << "" << "01" << "1";
}

void TestVelmoraReceiverFormat::configuredTexts()
{
    QFETCH(QString, server);
    QFETCH(QString, line);
    QFETCH(QString, serverSent);
    QFETCH(QString, lineSent);
    QCOMPARE(VelmoraReceiverFormat::serverText(server), serverSent);
    QCOMPARE(VelmoraReceiverFormat::lineText(line), lineSent);
}

void TestVelmoraReceiverFormat::keepalivePeriod_data()
{
    QTest::addColumn<int>("configured");
    QTest::addColumn<int>("periodMs");

    QTest::newRow("0: no keepalives") << 0 << 0;
    QTest::newRow("negative: no keepalives") << -5 << 0;
    QTest::newRow("5 s as the panel allows") << 5 << 5000;
    QTest::newRow("default 60 s") << 60 << 60000;
    // A hand-edited file may hold any integer; the timer must not overflow.
    QTest::newRow("beyond what a timer counts") << 99999999 << std::numeric_limits<int>::max();
}

void TestVelmoraReceiverFormat::keepalivePeriod()
{
    QFETCH(int, configured);
    QFETCH(int, periodMs);
    QCOMPARE(SVelmoraComTiming::keepalivePeriodMs(configured), periodMs);
}

void TestVelmoraReceiverFormat::answerDeadline_data()
{
    QTest::addColumn<int>("ackWaitMs");
    QTest::addColumn<int>("answerSize");
    QTest::addColumn<int>("deadlineMs");

    // The default is the pause plus read time-outs the converter always had.
    QTest::newRow("default, event answer") << 750 << VelmoraReceiverFormat::kEventAnswerSize << 750;
    QTest::newRow("default, keepalive answer") << 750 << VelmoraReceiverFormat::kKeepaliveAnswerSize << 1050;
    QTest::newRow("4000, event answer") << 4000 << VelmoraReceiverFormat::kEventAnswerSize << 4000;
    QTest::newRow("4000, keepalive answer") << 4000 << VelmoraReceiverFormat::kKeepaliveAnswerSize << 4000;
    QTest::newRow("900, keepalive answer keeps its longer wait")
        << 900 << VelmoraReceiverFormat::kKeepaliveAnswerSize << 1050;
    QTest::newRow("9900, event answer") << 9900 << VelmoraReceiverFormat::kEventAnswerSize << 9900;
}

void TestVelmoraReceiverFormat::answerDeadline()
{
    QFETCH(int, ackWaitMs);
    QFETCH(int, answerSize);
    QFETCH(int, deadlineMs);
    SVelmoraComTiming timing;
    timing.ackWaitMs = ackWaitMs;
    QCOMPARE(VelmoraExchange::answerDeadlineMs(timing, answerSize), unsigned(deadlineMs));
}

void TestVelmoraReceiverFormat::eventAttempt_data()
{
    QTest::addColumn<int>("attempt");
    QTest::addColumn<bool>("readSucceeded");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<Outcome>("outcome");
    QTest::addColumn<bool>("refusal");

    const QByteArray ack("\x06");
    const QByteArray nak("\x15");
    QTest::newRow("ACK on the first") << 1 << true << ack << Outcome::Acknowledged << false;
    QTest::newRow("ACK then another byte") << 1 << true << QByteArray("\x06\x15") << Outcome::Acknowledged << false;
    QTest::newRow("ACK twice") << 2 << true << QByteArray("\x06\x06") << Outcome::Acknowledged << false;
    QTest::newRow("other byte then ACK") << 1 << true << QByteArray("\x15\x06") << Outcome::TryAgain << true;
    QTest::newRow("NAK on the first") << 1 << true << nak << Outcome::TryAgain << true;
    QTest::newRow("nothing on the first") << 1 << true << QByteArray() << Outcome::TryAgain << false;
    QTest::newRow("failed read on the first") << 1 << false << QByteArray() << Outcome::TryAgain << false;
    QTest::newRow("NAK on the second") << 2 << true << nak << Outcome::TryAgain << true;
    QTest::newRow("nothing on the second") << 2 << true << QByteArray() << Outcome::TryAgain << false;
    QTest::newRow("failed read on the second") << 2 << false << QByteArray() << Outcome::GiveUp << false;
    QTest::newRow("ACK despite failed read") << 2 << false << ack << Outcome::Acknowledged << false;
    QTest::newRow("NAK on the third") << 3 << true << nak << Outcome::GiveUp << true;
    QTest::newRow("nothing on the third") << 3 << true << QByteArray() << Outcome::GiveUp << false;
    QTest::newRow("ACK on the third") << 3 << true << ack << Outcome::Acknowledged << false;
}

void TestVelmoraReceiverFormat::eventAttempt()
{
    QFETCH(int, attempt);
    QFETCH(bool, readSucceeded);
    QFETCH(QByteArray, answer);
    QFETCH(Outcome, outcome);
    QFETCH(bool, refusal);
    QCOMPARE(VelmoraReceiverFormat::judgeEventAttempt(attempt, readSucceeded, answer), outcome);
    QCOMPARE(VelmoraReceiverFormat::isRefusal(answer), refusal);
}

QTEST_APPLESS_MAIN(TestVelmoraReceiverFormat)
#include "tst_velmorareceiverformat.moc"
