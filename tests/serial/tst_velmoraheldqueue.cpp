#include "velmoraheldqueue.h"

#include <QtTest>

// The held-event rules on their own. Each row is a script of what happened
// on the line and what the queue answered to each step:
//   aN   an alarm with journal entry N arrives       "+" held, "dup" not
//   pN   a periodic test with journal entry N        as aN
//        (either with "@D": from device D)
//   f    its writes all went unanswered              notice
//   k+   a keepalive was acknowledged, k- it was not notice
//   nC   C refusals (0x15) in a row for the next one "aside" once refused
//   y    an answer that was no refusal               "-"
//   o    the port was opened again                   "-"
//   t    the next event left the queue               "N:notice"
// A notice is "-", "absent" or "back".
class TestVelmoraHeldQueue : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void eventsWithoutJournalEntryAreNeverMerged();
    void heldEventComesBackWhole();
};

namespace {

QString noticeText(VelmoraHeldQueue::Notice notice)
{
    switch (notice) {
    case VelmoraHeldQueue::Notice::Absent:
        return QStringLiteral("absent");
    case VelmoraHeldQueue::Notice::Back:
        return QStringLiteral("back");
    case VelmoraHeldQueue::Notice::None:
        break;
    }
    return QStringLiteral("-");
}

SVelmoraMsg heldEvent(qint64 journalId, const QString &deviceId = QString(), bool periodicTest = false)
{
    SVelmoraMsg msg;
    msg.account = QString::number(journalId);
    msg.event = periodicTest ? QStringLiteral("1602") : QStringLiteral("1130");
    msg.deviceId = deviceId;
    msg.journalId = journalId;
    return msg;
}

QString run(VelmoraHeldQueue &queue, const QString &step)
{
    const QChar kind = step.at(0);
    const QString argument = step.mid(1);
    if (kind == QLatin1Char('a') || kind == QLatin1Char('p')) {
        const SVelmoraMsg msg = heldEvent(argument.section(QLatin1Char('@'), 0, 0).toLongLong(),
                                          argument.section(QLatin1Char('@'), 1), kind == QLatin1Char('p'));
        return queue.add(msg) ? QStringLiteral("+") : QStringLiteral("dup");
    }
    if (kind == QLatin1Char('f'))
        return noticeText(queue.failNext());
    if (kind == QLatin1Char('k'))
        return noticeText(queue.keepaliveAnswered(argument == QLatin1String("+")));
    if (kind == QLatin1Char('n')) {
        bool aside = false;
        for (int count = argument.toInt(); count > 0; --count)
            aside = queue.countAnswer(true);
        return aside ? QStringLiteral("aside") : QStringLiteral("-");
    }
    if (kind == QLatin1Char('y'))
        return queue.countAnswer(false) ? QStringLiteral("aside") : QStringLiteral("-");
    if (kind == QLatin1Char('o')) {
        queue.portOpened();
        return QStringLiteral("-");
    }
    if (kind == QLatin1Char('t')) {
        const VelmoraHeldQueue::Finished finished = queue.takeNext();
        return QString::number(finished.msg.journalId) + QLatin1Char(':') + noticeText(finished.notice);
    }
    return QStringLiteral("bad step ") + step;
}

} // namespace

void TestVelmoraHeldQueue::rules_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<QString>("left");     // journal entries still held, in order
    QTest::addColumn<bool>("mayWrite");

    QTest::newRow("first in, first out") << "a1 a2 a3 t t" << "+ + + 1:- 2:-" << "3" << true;
    QTest::newRow("an entry already held is held once") << "a1 a2 a1 t a1" << "+ + dup 1:- +" << "2 1" << true;
    QTest::newRow("unanswered: absent, reported once")
        << "a1 a2 f f f" << "+ + absent - -" << "1 2" << false;
    QTest::newRow("keepalive answered: back, held events resume in order")
        << "a1 a2 f k+ t t" << "+ + absent back 1:- 2:-" << "" << true;
    QTest::newRow("unanswered keepalive changes nothing")
        << "a1 f k- k-" << "+ absent - -" << "1" << false;
    QTest::newRow("keepalive while present: no notice") << "a1 k+ t" << "+ - 1:-" << "" << true;
    QTest::newRow("retried event acknowledged: back")
        << "a1 a2 f t" << "+ + absent 1:back" << "2" << true;
    QTest::newRow("reopened port tries again, the absence stays reported")
        << "a1 f o f t" << "+ absent - - 1:back" << "" << true;
    QTest::newRow("reopened port: writes allowed again") << "a1 f o" << "+ absent -" << "1" << true;
    QTest::newRow("set aside after 20 refusals in a row")
        << "a1 a2 n19 n1 t" << "+ + - aside 1:-" << "2" << true;
    QTest::newRow("an answer between refusals starts the count again")
        << "a1 n19 y n19 n1" << "+ - - - aside" << "1" << true;
    QTest::newRow("an unanswered keepalive clears the refusals so far")
        << "a1 n19 k- n1 n18 n1" << "+ - - - - aside" << "1" << true;
    QTest::newRow("set aside during an absence ends it")
        << "a1 a2 f n20 t" << "+ + absent aside 1:back" << "2" << true;
    QTest::newRow("refusals belong to the event, not to the next")
        << "a1 a2 n19 t n1" << "+ + - 1:- -" << "2" << true;

    // One device cannot hold back another.
    QTest::newRow("devices take turns, each in its own order")
        << "a1@A a2@A a3@A a4@B a5@C" << "+ + + + +" << "1 4 5 2 3" << true;
    QTest::newRow("a device that comes later waits for its turn")
        << "a1@A a2@A t a3@B a4@A" << "+ + 1:- + +" << "2 3 4" << true;
    QTest::newRow("alarms and restores before periodic tests")
        << "p1@A p2@B a3@B a4@A" << "+ + + +" << "3 4 1 2" << true;
    QTest::newRow("an alarm overtakes the test being retried during an absence")
        << "p1@A f a2@B k+ t" << "+ absent + back 2:-" << "1" << true;
    QTest::newRow("refusals stay with their event while others take turns")
        << "a1@A a2@B n19 t" << "+ + - 1:-" << "2" << true;
    QTest::newRow("one entry held once across devices")
        << "a1@A a1@B" << "+ dup" << "1" << true;
}

void TestVelmoraHeldQueue::rules()
{
    QFETCH(QString, script);
    QFETCH(QString, answers);
    QFETCH(QString, left);
    QFETCH(bool, mayWrite);

    VelmoraHeldQueue queue;
    QStringList got;
    for (const QString &step : script.split(QLatin1Char(' ')))
        got.append(run(queue, step));
    QCOMPARE(got.join(QLatin1Char(' ')), answers);
    QCOMPARE(queue.mayWriteEvents(), mayWrite);

    QStringList held;
    while (!queue.isEmpty())
        held.append(run(queue, QStringLiteral("t")).section(QLatin1Char(':'), 0, 0));
    QCOMPARE(held.join(QLatin1Char(' ')), left);
}

void TestVelmoraHeldQueue::eventsWithoutJournalEntryAreNeverMerged()
{
    // Without a journal (or before it could be written) every event has
    // entry 0; two of them are two alarms.
    VelmoraHeldQueue queue;
    QVERIFY(queue.add(heldEvent(0)));
    QVERIFY(queue.add(heldEvent(0)));
    QCOMPARE(queue.size(), 2);
}

void TestVelmoraHeldQueue::heldEventComesBackWhole()
{
    // Held events are kept packed; what goes on the line is built from the
    // unpacked record, so every field must come back as it was.
    SVelmoraMsg msg;
    msg.account = QStringLiteral("0A0B0C");
    msg.event = QStringLiteral("3401");
    msg.group = QString();
    msg.zone = QString(300, QLatin1Char('7'));
    msg.messageType = QStringLiteral("18");
    msg.time = QStringLiteral("12:34:56-01/02 \u0416");
    msg.deviceId = QStringLiteral("0A0B0C");
    msg.receivedAt = QDateTime(QDate(2026, 12, 8), QTime(1, 2, 3, 456), Qt::UTC);
    msg.journalId = 42;
    VelmoraHeldQueue queue;
    QVERIFY(queue.add(msg));
    const SVelmoraMsg held = queue.next();
    QCOMPARE(held.account, msg.account);
    QCOMPARE(held.event, msg.event);
    QCOMPARE(held.group, QStringLiteral(""));
    QCOMPARE(held.zone, msg.zone);
    QCOMPARE(held.messageType, msg.messageType);
    QCOMPARE(held.time, msg.time);
    QCOMPARE(held.deviceId, msg.deviceId);
    QCOMPARE(held.receivedAt, msg.receivedAt);
    QCOMPARE(queue.takeNext().msg.journalId, qint64(42));
    QVERIFY(queue.isEmpty());
}

QTEST_GUILESS_MAIN(TestVelmoraHeldQueue)
#include "tst_velmoraheldqueue.moc"
