#include "comrig.h"

#include "serialindexmaps.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTranslator>
#include <QtTest>

#include <memory>

#include <termios.h>

using Answer = ScriptedStation::Answer;
Q_DECLARE_METATYPE(QList<Answer>)

// The serial thread and worker end to end: a pseudo-terminal as the COM
// port, a scripted station answering on its other side, the log lines on
// screen and in the day log.
class TestVelmoraComThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void exchange_data();
    void exchange();
    void sameLineOnEveryAttempt();
    void strayAnswerBeforeTheLineIsNotTaken();
    void configuredTextsReachTheLine_data();
    void configuredTextsReachTheLine();
    void keepaliveOnIdleLine();
    void unansweredKeepaliveFollowedByNext();
    void acknowledgedEventPostponesKeepalive();
    void unacknowledgedEventDoesNotPostponeKeepalive();
    void noKeepaliveWithPeriodZero();
    void keepaliveRequestAfterCloseStopsThere();
    void openAndCloseLines();
    void dayLogCopyOfTranslatedLines();
    void openFailures_data();
    void openFailures();
    void panelChoicesReachTheLine_data();
    void panelChoicesReachTheLine();
    void stopKeepsEventsHandedOverForTheNextStart();
    void vanishedPortThenNewPort();
    void portHealsUnderItsName();
};

namespace {

const QString kAckLine = QStringLiteral("[com] COMMSG: ");
const QString kKeepaliveAck = QStringLiteral("[com] COMMSG: Keepalive ");
const QString kKeepaliveError = QStringLiteral("[com] ERROR COMMSG: Keepalive ");
const QByteArray kKeepaliveBytes = QByteArray::fromHex("31303131202020202020202020202040202020" "2014");

QString successLine(const QByteArray &line)
{
    return kAckLine + QString::fromLatin1(line);
}

QString failureLine(const QString &port, const QByteArray &line)
{
    return QStringLiteral("[com]Writing %1 to  was failed! Packet:\n").arg(port)
           + QString::fromLatin1(line);
}

// Stands in for a Russian translation file: every text of the serial
// worker's context comes back in capitals.
class CapitalsTranslator : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *sourceText, const char *disambiguation,
                      int n) const override
    {
        Q_UNUSED(disambiguation)
        Q_UNUSED(n)
        if (qstrcmp(context, "VelmoraCom") != 0)
            return QString();
        return QString::fromLatin1(sourceText).toUpper();
    }
};

int emptyEntries(const QStringList &lines)
{
    int count = 0;
    for (const QString &line : lines) {
        if (line.endsWith(QStringLiteral(" - [error] ")))
            ++count;
    }
    return count;
}

} // namespace

void TestVelmoraComThread::initTestCase()
{
    setUpDayLog();
}

void TestVelmoraComThread::exchange_data()
{
    QTest::addColumn<QList<Answer>>("script");
    QTest::addColumn<int>("linesSeen");
    QTest::addColumn<bool>("acknowledged");
    QTest::addColumn<int>("empties");
    // The device went away: the event stays held for the reopened port.
    QTest::addColumn<bool>("gone");

    const Answer ack = ScriptedStation::ack();
    const Answer nak = ScriptedStation::nak();
    const Answer silence = ScriptedStation::silence();
    QTest::newRow("acknowledged at once") << QList<Answer>{ack} << 1 << true << 0 << false;
    QTest::newRow("ACK followed by another byte")
        << QList<Answer>{Answer{QByteArray("\x06\x15"), 0, false}} << 1 << true << 0 << false;
    QTest::newRow("NAK followed by ACK is no ACK")
        << QList<Answer>{Answer{QByteArray("\x15\x06"), 0, false}, ack} << 2 << true << 1 << false;
    QTest::newRow("acknowledged on the second write") << QList<Answer>{nak, ack} << 2 << true << 1 << false;
    QTest::newRow("acknowledged on the third write")
        << QList<Answer>{silence, nak, ack} << 3 << true << 2 << false;
    QTest::newRow("NAK three times") << QList<Answer>{nak, nak, nak} << 3 << false << 2 << false;
    QTest::newRow("silent station") << QList<Answer>{} << 3 << false << 2 << false;
    // The ACK comes after the first read has given up and is taken by the
    // second; the station sees the line twice.
    QTest::newRow("late ACK") << QList<Answer>{ScriptedStation::ack(kRigAttemptMs + kRigAttemptMs / 2)} << 2 << true << 1 << false;
    QTest::newRow("read fails on the second attempt")
        << QList<Answer>{nak, ScriptedStation::hangUpNow()} << 2 << false << 1 << true;
    QTest::newRow("port gone after the first write")
        << QList<Answer>{ScriptedStation::hangUpNow()} << 1 << false << 0 << true;
}

void TestVelmoraComThread::exchange()
{
    QFETCH(QList<Answer>, script);
    QFETCH(int, linesSeen);
    QFETCH(bool, acknowledged);
    QFETCH(int, empties);
    QFETCH(bool, gone);

    ComRig rig(0);
    rig.station.scriptEvents(script);
    QVERIFY(rig.startAndOpen());
    const int logBefore = dayLogLines().size();

    rig.thread.msgSlot(makeTestEvent(1));
    const QByteArray line = testEventLine(1);
    const QString expected = acknowledged ? successLine(line)
                             : gone       ? QStringLiteral("[com] Lost the port %1 (Input/output error); "
                                                           "held events wait until it opens again.")
                                              .arg(rig.port())
                                          : failureLine(rig.port(), line);
    QVERIFY(rig.waitForLine(expected));

    QList<QByteArray> seen;
    for (int count = 0; count < linesSeen; ++count)
        seen.append(line);
    QCOMPARE(rig.station.eventLines(), seen);
    const QStringList written = dayLogLines().mid(logBefore);
    QCOMPARE(emptyEntries(written), empties);
    // The empty entries come before the outcome; the outcome line is the
    // same text in the day log.
    QVERIFY(!written.isEmpty());
    const QString outcomeText = QStringLiteral(" - [error] ") + expected.section(QLatin1Char('\n'), 0, 0);
    int outcome = 0;
    while (outcome < written.size() && !written.at(outcome).endsWith(outcomeText))
        ++outcome;
    QVERIFY(outcome < written.size());
    QCOMPARE(emptyEntries(written.mid(0, outcome)), empties);
}

void TestVelmoraComThread::sameLineOnEveryAttempt()
{
    ComRig rig(0);
    rig.thread.setUseTime(true);
    rig.station.scriptEvents({ScriptedStation::nak(), ScriptedStation::silence(), ScriptedStation::ack()});
    QVERIFY(rig.startAndOpen());
    rig.thread.msgSlot(makeTestEvent(42));
    const QByteArray line("5011 180042E13001003" "14:05:09-06/12\x14");
    QVERIFY(rig.waitForLine(successLine(line)));
    QCOMPARE(rig.station.eventLines(), (QList<QByteArray>{line, line, line}));
}

void TestVelmoraComThread::strayAnswerBeforeTheLineIsNotTaken()
{
    // An ACK that arrives while no line is waiting for one (a late answer to
    // an earlier line, or noise) must not count for the next line.
    RecordingEventStore store;
    ComRig rig(0, &store);
    QVERIFY(rig.startAndOpen());
    QVERIFY(rig.station.send(QByteArray("\x06\x06\x06")));
    QTest::qWait(kRigAttemptMs);

    rig.thread.msgSlot(makeTestEvent(1, 7));
    const QByteArray line = testEventLine(1);
    QVERIFY(rig.waitForLine(failureLine(rig.port(), line)));
    QCOMPARE(rig.station.eventLines(), (QList<QByteArray>{line, line, line}));
    QVERIFY(store.delivered().isEmpty());
    QCOMPARE(rig.countLines(successLine(line)), 0);
}

void TestVelmoraComThread::configuredTextsReachTheLine_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("start");

    QTest::newRow("receiver 7 sent as 07") << "7" << "3" << QByteArray("5073 18");
    QTest::newRow("receiver 123 kept") << "123" << "1" << QByteArray("51231 18");
    QTest::newRow("both empty") << "" << "" << QByteArray("5011 18");
}

void TestVelmoraComThread::configuredTextsReachTheLine()
{
    QFETCH(QString, server);
    QFETCH(QString, line);
    QFETCH(QByteArray, start);

    ComRig rig(0);
    rig.station.setEventDefault(ScriptedStation::ack());
    rig.thread.setServer(server);
    rig.thread.setLine(line);
    QVERIFY(rig.startAndOpen());
    rig.thread.msgSlot(makeTestEvent(1));
    QTRY_COMPARE(rig.station.eventLines().size(), 1);
    QCOMPARE(rig.station.eventLines().first(), start + "0001E13001003\x14");
}

void TestVelmoraComThread::keepaliveOnIdleLine()
{
    ComRig rig(kRigKeepaliveMs);
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());

    // Each one a whole period after the last acknowledged line, not before.
    for (int count = 1; count <= 2; ++count) {
        rig.advance(kRigKeepaliveMs - 1);
        QCOMPARE(rig.station.keepaliveLines().size(), count - 1);
        rig.advance(1);
        QCOMPARE(rig.station.keepaliveLines().size(), count);
    }
    QTRY_COMPARE(rig.countLines(kKeepaliveAck), 2);
    QCOMPARE(rig.station.lines(), (QList<QByteArray>{kKeepaliveBytes, kKeepaliveBytes}));
}

void TestVelmoraComThread::unansweredKeepaliveFollowedByNext()
{
    ComRig rig(kRigKeepaliveMs);
    QVERIFY(rig.startAndOpen());
    const int logBefore = dayLogLines().size();
    rig.advance(kRigKeepaliveMs);
    rig.advance(kRigKeepaliveMs);
    QTRY_COMPARE(rig.countLines(kKeepaliveError), 2);
    QCOMPARE(rig.station.keepaliveLines().size(), 2);
    QCOMPARE(rig.countLines(kKeepaliveAck), 0);
    QVERIFY(dayLogLines().mid(logBefore).filter(QRegularExpression(" - \\[error\\] \\[com\\] ERROR COMMSG: Keepalive $")).size() >= 2);
}

void TestVelmoraComThread::acknowledgedEventPostponesKeepalive()
{
    ComRig rig(kRigKeepaliveMs);
    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());

    // An acknowledged event every two fifths of the period for twice the
    // period, and no keepalive in between.
    constexpr int kGapMs = kRigKeepaliveMs * 2 / 5;
    for (int number = 1; number <= 5; ++number) {
        rig.thread.msgSlot(makeTestEvent(number));
        QVERIFY(rig.waitForLine(successLine(testEventLine(number))));
        rig.advance(kGapMs);
    }
    QCOMPARE(rig.station.lines().size(), 5);
    // The keepalive a whole period after the last event.
    rig.advance(kRigKeepaliveMs - kGapMs - 1);
    QCOMPARE(rig.station.lines().size(), 5);
    rig.advance(1);
    const QList<QByteArray> lines = rig.station.lines();
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.last(), kKeepaliveBytes);
}

void TestVelmoraComThread::unacknowledgedEventDoesNotPostponeKeepalive()
{
    ComRig rig(kRigKeepaliveMs);
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());

    // An event the silent station never acknowledges, half a period after
    // the open: the keepalive still comes a period after the open, not a
    // period after the event.
    rig.advance(kRigKeepaliveMs / 2);
    rig.thread.msgSlot(makeTestEvent(1));
    QVERIFY(rig.waitForLine(failureLine(rig.port(), testEventLine(1))));
    rig.advance(kRigKeepaliveMs - kRigKeepaliveMs / 2);
    const QList<QByteArray> lines = rig.station.lines();
    QCOMPARE(lines.mid(0, 4), (QList<QByteArray>{testEventLine(1), testEventLine(1), testEventLine(1), kKeepaliveBytes}));
}

void TestVelmoraComThread::noKeepaliveWithPeriodZero()
{
    ComRig rig(0);
    rig.station.setEventDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());
    rig.thread.msgSlot(makeTestEvent(1));
    QVERIFY(rig.waitForLine(successLine(testEventLine(1))));
    rig.advance(100 * kRigKeepaliveMs);
    QCOMPARE(rig.station.lines(), QList<QByteArray>{testEventLine(1)});
}

void TestVelmoraComThread::keepaliveRequestAfterCloseStopsThere()
{
    ComRig rig(kRigKeepaliveMs);
    QVERIFY(rig.startAndOpen());
    // The timer fires just after the stop request: its keepalive finds the
    // port closed, is reported, and the cycle ends there.
    rig.close();
    QMetaObject::invokeMethod(rig.worker(), &VelmoraCom::keepaliveSlot, Qt::QueuedConnection);
    QVERIFY(rig.waitForLine(kKeepaliveError));
    rig.advance(3 * kRigKeepaliveMs);
    QCOMPARE(rig.countLines(kKeepaliveError), 1);
    QVERIFY(rig.station.lines().isEmpty());
}

void TestVelmoraComThread::openAndCloseLines()
{
    ComRig rig(0);
    const int logBefore = dayLogLines().size();
    QVERIFY(rig.start());
    QSignalSpy stops(rig.worker(), &VelmoraCom::stopSignal);
    QVERIFY(rig.startAndOpen());
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1 was closed successfully!").arg(rig.port())));
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1!").arg(rig.port())));

    const QString port = rig.port();
    const QStringList expected{
        QStringLiteral("[com] %1 opened successfully!").arg(port),
        QStringLiteral("[com] Setting for %1 received successfully!").arg(port),
        QStringLiteral("[com] User's settings for %1 was set successfully!").arg(port),
        QStringLiteral("[com] Timeout's settings for %1 was set successfully!").arg(port),
        QStringLiteral("[com] %1 is ready to work!").arg(port),
        QStringLiteral("[com] %1 was closed successfully!").arg(port),
        QStringLiteral("[com] %1!").arg(port),
    };
    QCOMPARE(rig.screen(), expected);
    QStringList file;
    for (const QString &line : dayLogLines().mid(logBefore))
        file.append(line.section(QStringLiteral(" - [error] "), 1));
    QCOMPARE(file, expected);
    QCOMPARE(stops.count(), 0);
}

void TestVelmoraComThread::dayLogCopyOfTranslatedLines()
{
    CapitalsTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    auto removeTranslator = qScopeGuard([&translator] { QCoreApplication::removeTranslator(&translator); });

    ComRig rig(kRigKeepaliveMs);
    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    const QString port = rig.port();
    const int logBefore = dayLogLines().size();
    QVERIFY(rig.start());
    rig.open();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1 IS READY TO WORK!").arg(port)));
    rig.advance(kRigKeepaliveMs);
    QVERIFY(rig.waitForLine(QStringLiteral("[com] COMMSG: KEEPALIVE ")));
    rig.thread.msgSlot(makeTestEvent(1));
    QVERIFY(rig.waitForLine(successLine(testEventLine(1))));
    rig.close();
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1!").arg(port)));
    rig.thread.setPortName(QStringLiteral("/dev/lumari-no-such-port"));
    rig.open();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] COULDN'T OPEN /dev/lumari-no-such-port. (No such file or directory)")));

    const QStringList expectedScreen{
        QStringLiteral("[com] %1 OPENED SUCCESSFULLY!").arg(port),
        QStringLiteral("[com] SETTING FOR %1 RECEIVED SUCCESSFULLY!").arg(port),
        QStringLiteral("[com] USER'S SETTINGS FOR %1 WAS SET SUCCESSFULLY!").arg(port),
        QStringLiteral("[com] TIMEOUT'S SETTINGS FOR %1 WAS SET SUCCESSFULLY!").arg(port),
        QStringLiteral("[com] %1 IS READY TO WORK!").arg(port),
        QStringLiteral("[com] COMMSG: KEEPALIVE "),
        successLine(testEventLine(1)),
        QStringLiteral("[com] %1 WAS CLOSED SUCCESSFULLY!").arg(port),
        QStringLiteral("[com] %1!").arg(port),
        QStringLiteral("[com] COULDN'T OPEN /dev/lumari-no-such-port. (No such file or directory)"),
    };
    QCOMPARE(rig.screen(), expectedScreen);
    // The day log holds the same lines, but the failed open in English.
    QStringList expectedFile = expectedScreen;
    expectedFile.last() = QStringLiteral("[com] Couldn't open /dev/lumari-no-such-port. (No such file or directory)");
    QStringList file;
    for (const QString &line : dayLogLines().mid(logBefore))
        file.append(line.section(QStringLiteral(" - [error] "), 1));
    QCOMPARE(file, expectedFile);
}

void TestVelmoraComThread::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<QStringList>("lines");

    // %1 stands for the port name as configured. Each failure names the
    // system's reason.
    QTest::newRow("missing device")
        << "/dev/lumari-no-such-port" << 8 << QStringList{"[com] Couldn't open %1. (No such file or directory)"};
    QTest::newRow("COM port this machine lacks")
        << "COM200" << 8 << QStringList{"[com] Couldn't open %1. (No such file or directory)"};
    QTest::newRow("name that is no port") << "serial" << 8 << QStringList{"[com] Couldn't open %1. (no such port)"};
    QTest::newRow("device that is no serial line")
        << "/dev/null" << 8
        << QStringList{"[com] %1 opened successfully!",
                       "[com] Couldn't receive settings for %1! (Inappropriate ioctl for device)"};
    QTest::newRow("nine data bits")
        << "" << 9
        << QStringList{"[com] %1 opened successfully!", "[com] Setting for %1 received successfully!",
                       "[com] Couldn't set user's settings for %1! (setting not supported by the device)"};
}

void TestVelmoraComThread::openFailures()
{
    QFETCH(QString, name);
    QFETCH(int, dataBits);
    QFETCH(QStringList, lines);

    ComRig rig(kRigKeepaliveMs);
    const QString port = name.isEmpty() ? rig.port() : name;
    rig.thread.setPortName(port);
    rig.thread.setDataBits(dataBits);
    QVERIFY(rig.start());
    QSignalSpy stops(rig.worker(), &VelmoraCom::stopSignal);
    rig.open();
    QVERIFY(stops.wait(5000));
    for (QString &line : lines)
        line = line.arg(port);
    QTRY_COMPARE(rig.screen(), lines);

    // A port opened but not configured is closed again at once; no keepalive
    // runs on it, and the retries that follow repeat no line.
    for (int retry = 0; retry < 3; ++retry)
        rig.advance(kRigReopenMs);
    QTest::qWait(20);
    QCOMPARE(rig.screen(), lines);
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1!").arg(port)));
    if (port == rig.port()) {
        rig.advance(3 * kRigKeepaliveMs);
        QVERIFY(rig.station.lines().isEmpty());
    }
    QCOMPARE(stops.count(), 1);
}

void TestVelmoraComThread::panelChoicesReachTheLine_data()
{
    QTest::addColumn<int>("baudIndex");
    QTest::addColumn<int>("parityIndex");
    QTest::addColumn<int>("stopBitsIndex");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("defaults: 19200, no parity, stop bits \"1\"") << 7 << 0 << 0 << uint(B19200) << false << true;
    QTest::newRow("9600, stop bits \"2\"") << 6 << 0 << 1 << uint(B9600) << true << true;
    QTest::newRow("115200, stop bits \"2\"") << 10 << 0 << 1 << uint(B115200) << true << true;
    QTest::newRow("index beyond the list: 19200, one stop bit") << 11 << 0 << 2 << uint(B19200) << false << true;
    // A pseudo-terminal keeps no parity; that the setting is refused shows
    // the parity code got as far as the device.
    QTest::newRow("even parity reaches the device") << 7 << 2 << 0 << uint(B19200) << false << false;
    QTest::newRow("odd parity reaches the device") << 7 << 1 << 0 << uint(B19200) << false << false;
}

void TestVelmoraComThread::panelChoicesReachTheLine()
{
    QFETCH(int, baudIndex);
    QFETCH(int, parityIndex);
    QFETCH(int, stopBitsIndex);
    QFETCH(uint, speed);
    QFETCH(bool, twoStopBits);
    QFETCH(bool, accepted);

    ComRig rig(0);
    rig.thread.setBaudRate(baudRateFromIndex(baudIndex));
    rig.thread.setParity(checkThreeWayIndex(parityIndex));
    rig.thread.setStopBits(checkStopBitsIndex(stopBitsIndex));
    if (!accepted) {
        QVERIFY(rig.start());
        rig.open();
        QVERIFY(rig.waitForLine(
            QStringLiteral("[com] Couldn't set user's settings for %1! (setting not supported by the device)")
                .arg(rig.port())));
        return;
    }
    QVERIFY(rig.startAndOpen());
    termios attributes{};
    QCOMPARE(::tcgetattr(rig.station.slaveDescriptor(), &attributes), 0);
    QCOMPARE(uint(::cfgetospeed(&attributes)), speed);
    QCOMPARE(bool(attributes.c_cflag & CSTOPB), twoStopBits);
    QCOMPARE(uint(attributes.c_cflag & CSIZE), uint(CS8));
}

void TestVelmoraComThread::stopKeepsEventsHandedOverForTheNextStart()
{
    ComRig rig(0);
    rig.station.setEventDefault(ScriptedStation::ack(kRigAnswerPauseMs));
    QVERIFY(rig.startAndOpen());
    for (int number = 1; number <= 3; ++number)
        rig.thread.msgSlot(makeTestEvent(number));
    rig.close();
    const QString closed = QStringLiteral("[com] %1 was closed successfully!").arg(rig.port());
    QVERIFY(rig.waitForLine(closed));
    rig.open();
    QVERIFY(rig.waitForLine(successLine(testEventLine(3))));

    // The close waits for the exchange on the line; whatever was not written
    // yet waits through it. Each event goes out once, in order.
    const QStringList screen = rig.screen();
    const int closedAt = screen.indexOf(closed);
    for (int number = 1; number <= 3; ++number)
        QCOMPARE(rig.countLines(successLine(testEventLine(number))), 1);
    QVERIFY(screen.indexOf(successLine(testEventLine(1))) < closedAt);
    QCOMPARE(rig.station.eventLines(), (QList<QByteArray>{testEventLine(1), testEventLine(2), testEventLine(3)}));
    QCOMPARE(rig.thread.heldCount(), 0);
}

void TestVelmoraComThread::vanishedPortThenNewPort()
{
    ComRig rig(kRigKeepaliveMs);
    QVERIFY(rig.startAndOpen());
    rig.station.hangUp();

    // The loss is said once, with the reason; the event stays held.
    rig.thread.msgSlot(makeTestEvent(1));
    const QString lost = QStringLiteral("[com] Lost the port %1 (Input/output error); "
                                        "held events wait until it opens again.")
                             .arg(rig.port());
    QVERIFY(rig.waitForLine(lost));
    QCOMPARE(rig.thread.heldCount(), 1);
    for (int retry = 0; retry < 3; ++retry)
        rig.advance(kRigReopenMs);
    QTest::qWait(20);
    QCOMPARE(rig.countLines(lost), 1);
    QCOMPARE(rig.countLines(failureLine(rig.port(), testEventLine(1))), 0);

    // Settings applied again with a port that works: the event goes out.
    ScriptedStation second;
    QVERIFY(second.isValid());
    second.setEventDefault(ScriptedStation::ack());
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1!").arg(rig.port())));
    rig.thread.setPortName(second.portName());
    rig.thread.comStartSlot();
    QVERIFY(rig.waitForLine(successLine(testEventLine(1))));
    QCOMPARE(second.eventLines(), QList<QByteArray>{testEventLine(1)});
    QTRY_COMPARE(rig.thread.heldCount(), 0);
}

void TestVelmoraComThread::portHealsUnderItsName()
{
    // The configured name is a link the test points at a station, as a
    // re-plugged adapter or a restarted driver brings its name back.
    QTemporaryDir directory;
    const QString link = directory.filePath(QStringLiteral("ttyLumari"));
    ComRig rig(kRigKeepaliveMs);
    rig.thread.setPortName(link);
    QVERIFY(rig.start());
    QSignalSpy stops(rig.worker(), &VelmoraCom::stopSignal);
    QSignalSpy ready(rig.worker(), &VelmoraCom::portReadySignal);
    rig.open();

    // Missing at the start: said once, the receiver told to stop, retried.
    const QString missing = QStringLiteral("[com] Couldn't open %1. (No such file or directory)").arg(link);
    QVERIFY(rig.waitForLine(missing));
    QTRY_COMPARE(stops.count(), 1);
    for (int retry = 0; retry < 3; ++retry)
        rig.advance(kRigReopenMs);
    QTest::qWait(20);
    QCOMPARE(rig.countLines(missing), 1);

    auto first = std::make_unique<ScriptedStation>();
    first->setEventDefault(ScriptedStation::ack());
    first->setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(QFile::link(first->portName(), link));
    rig.advance(kRigReopenMs);
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1 is ready to work!").arg(link)));
    QTRY_COMPARE(ready.count(), 1);
    rig.thread.msgSlot(makeTestEvent(1));
    QTRY_COMPARE(first->eventLines(), QList<QByteArray>{testEventLine(1)});

    // Gone while running, with events held; back under the same name: they
    // go out in order, each once.
    first->hangUp();
    for (int number = 2; number <= 6; ++number)
        rig.thread.msgSlot(makeTestEvent(number));
    QVERIFY(rig.waitForLine(QStringLiteral("[com] Lost the port %1 (Input/output error); "
                                           "held events wait until it opens again.")
                                .arg(link)));
    first.reset();
    ScriptedStation second;
    second.setEventDefault(ScriptedStation::ack());
    second.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(QFile::remove(link));
    QVERIFY(QFile::link(second.portName(), link));
    rig.advance(kRigReopenMs);
    QTRY_COMPARE_WITH_TIMEOUT(second.eventLines().size(), 5, 10000);
    QCOMPARE(second.eventLines(), (QList<QByteArray>{testEventLine(2), testEventLine(3), testEventLine(4),
                                                     testEventLine(5), testEventLine(6)}));
    QTRY_COMPARE(rig.thread.heldCount(), 0);
    QCOMPARE(ready.count(), 2);
    QCOMPARE(stops.count(), 1);
}

QTEST_GUILESS_MAIN(TestVelmoraComThread)
#include "tst_velmoracomthread.moc"
