#include "velmoraheldqueue.h"

#include "velmoraeventcodec.h"
#include "velmoraeventjournalrecord.h"

#include <QtTest>

// The held-event rules on their own. Each row is a script of what happened
// on the line and what the queue answered to each step:
//   aN   an alarm with journal entry N arrives       "+" held, "dup" not
//   pN   a periodic test with journal entry N        as aN
//        (either with "@D": from device D)
//   f    its writes all went unanswered              notice
//   k+   a keepalive was acknowledged, k- it was not notice
//   nC   C refusals (0x15) in a row for the next one "refused" once refused
//   r    the next one was refused for good           "trial", "fault", "still",
//                                                    "asideN" when N was set aside
//   y    an answer that was no refusal               "-"
//   o    the port was opened again                   "-"
//   t    the next event was acknowledged and left    "N:notice"
//        the queue
// A notice is "-", "absent", "back" or "over" (the line fault is over).
class TestVelmoraHeldQueue : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void eventsWithoutJournalEntryAreNeverMerged();
    void heldEventComesBackWhole_data();
    void heldEventComesBackWhole();
    void heldEventsListedInArrivalOrder();
};

namespace {

QString noticeText(VelmoraHeldQueue::Notice notice)
{
    switch (notice) {
    case VelmoraHeldQueue::Notice::Absent:
        return QStringLiteral("absent");
    case VelmoraHeldQueue::Notice::Back:
        return QStringLiteral("back");
    case VelmoraHeldQueue::Notice::LineFaultOver:
        return QStringLiteral("over");
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
        return aside ? QStringLiteral("refused") : QStringLiteral("-");
    }
    if (kind == QLatin1Char('y'))
        return queue.countAnswer(false) ? QStringLiteral("refused") : QStringLiteral("-");
    if (kind == QLatin1Char('r')) {
        SVelmoraMsg setAside;
        switch (queue.refuseNext(&setAside)) {
        case VelmoraHeldQueue::Refusal::OnTrial:
            return QStringLiteral("trial");
        case VelmoraHeldQueue::Refusal::LineFault:
            return QStringLiteral("fault");
        case VelmoraHeldQueue::Refusal::StillHeld:
            return QStringLiteral("still");
        case VelmoraHeldQueue::Refusal::SetAside:
            return QStringLiteral("aside") + QString::number(setAside.journalId);
        }
    }
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
    QTest::newRow("refused after 20 refusals in a row, set aside when refused again after the next went through")
        << "a1 a2 n19 n1 r t n1 r" << "+ + - refused trial 2:- refused aside1" << "" << true;
    QTest::newRow("an answer between refusals starts the count again")
        << "a1 n19 y n19 n1" << "+ - - - refused" << "1" << true;
    QTest::newRow("an unanswered keepalive clears the refusals so far")
        << "a1 n19 k- n1 n18 n1" << "+ - - - - refused" << "1" << true;
    QTest::newRow("the next one acknowledged during an absence ends it")
        << "a1 a2 f n20 r t" << "+ + absent refused trial 2:back" << "1" << true;

    // A refusal of every event is the line's fault: nothing is set aside.
    QTest::newRow("a refused event waits on trial while the next ones are written")
        << "a1 a2 a3 n20 r" << "+ + + refused trial" << "2 1 3" << true;
    QTest::newRow("two different events refused: line fault, everything held in order")
        << "a1 a2 a3 n20 r n20 r" << "+ + + refused trial refused fault" << "1 2 3" << false;
    QTest::newRow("line fault said once, the first event stays first, keepalives change nothing")
        << "a1 a2 n20 r n20 r n20 r f k+ k-" << "+ + refused trial refused fault refused still - - -" << "1 2"
        << false;
    QTest::newRow("an acknowledged event line ends the line fault")
        << "a1 a2 n20 r n20 r t" << "+ + refused trial refused fault 1:over" << "2" << true;
    QTest::newRow("an event arriving during a line fault waits behind the others")
        << "a1 a2 n20 r n20 r a3 t" << "+ + refused trial refused fault + 1:over" << "2 3" << true;
    QTest::newRow("an absence reported before the fault ends with it")
        << "a1 a2 f n20 r n20 r t" << "+ + absent refused trial refused fault 1:over" << "2" << true;
    QTest::newRow("a refused event alone is only retried, never set aside")
        << "a1 n20 r n20 r" << "+ refused trial refused still" << "1" << false;
    QTest::newRow("a refused event alone, then a new one accepted: written again next")
        << "a1 n20 r a2 t" << "+ refused trial + 2:-" << "1" << true;
    QTest::newRow("the event on trial accepted on its retry: delivered, not set aside")
        << "a1 n20 r y t" << "+ refused trial - 1:-" << "" << true;
    QTest::newRow("the event on trial is held once")
        << "a1 n20 r a1" << "+ refused trial dup" << "1" << false;
    // A refusal storm (the software's database in maintenance) is judged by
    // the one write after a different event went through, not by that event.
    QTest::newRow("refused in a storm, accepted on its write after the next: delivered")
        << "a1 a2 a3 n20 r t y t" << "+ + + refused trial 2:- - 1:-" << "3" << true;
    QTest::newRow("written again before the events behind it")
        << "a1 a2 a3 n20 r t" << "+ + + refused trial 2:-" << "1 3" << true;
    QTest::newRow("unanswered on its write after the next: still held, not set aside")
        << "a1 a2 n20 r t y y y f k+ t" << "+ + refused trial 2:- - - - absent back 1:-" << "" << true;
    QTest::newRow("during the line fault a refusal of the first keeps it held")
        << "a1 a2 a3 n20 r n20 r n1" << "+ + + refused trial refused fault -" << "1 2 3" << false;
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

void TestVelmoraHeldQueue::heldEventComesBackWhole_data()
{
    QTest::addColumn<bool>("formMade");
    QTest::addColumn<bool>("inRecord");
    QTest::newRow("never kept by a store: packed here") << false << false;
    QTest::newRow("form made by the store: kept, not made again") << true << false;
    QTest::newRow("journal record ending in the form: kept, not made again") << true << true;
}

void TestVelmoraHeldQueue::heldEventComesBackWhole()
{
    QFETCH(bool, formMade);
    QFETCH(bool, inRecord);
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
    msg.peerAddress = QStringLiteral("192.0.2.7");
    msg.journalId = 42;
    if (formMade && inRecord) {
        msg.encoded = VelmoraEventJournalRecord::encode(VelmoraEventJournalRecord::Type::Event, 42, msg);
        msg.encodedStart = VelmoraEventJournalRecord::kEventFormStart;
    } else if (formMade) {
        msg.encoded = VelmoraEventCodec::encode(msg);
    }
    VelmoraHeldQueue queue;
    QVERIFY(queue.add(msg));
    const SVelmoraMsg held = queue.next();
    // The bytes held are the store's own, shared: the event is encoded once.
    QCOMPARE(held.encoded.isSharedWith(msg.encoded), formMade);
    QCOMPARE(held.encoded.mid(held.encodedStart), VelmoraEventCodec::encode(msg));
    QCOMPARE(held.account, msg.account);
    QCOMPARE(held.event, msg.event);
    QCOMPARE(held.group, QStringLiteral(""));
    QCOMPARE(held.zone, msg.zone);
    QCOMPARE(held.messageType, msg.messageType);
    QCOMPARE(held.time, msg.time);
    QCOMPARE(held.deviceId, msg.deviceId);
    QCOMPARE(held.receivedAt, msg.receivedAt);
    QCOMPARE(held.peerAddress, msg.peerAddress);
    QCOMPARE(queue.takeNext().msg.journalId, qint64(42));
    QVERIFY(queue.isEmpty());
}

void TestVelmoraHeldQueue::heldEventsListedInArrivalOrder()
{
    // The fair order sends a test of device A last and B's alarm first; the
    // list shows them as they came, the event on trial among them, each
    // with the writes it took.
    const QDateTime start(QDate(2026, 12, 8), QTime(3, 0), Qt::UTC);
    VelmoraHeldQueue queue;
    SVelmoraMsg test = heldEvent(1, QStringLiteral("A"), true);
    test.receivedAt = start;
    SVelmoraMsg alarm = heldEvent(2, QStringLiteral("B"));
    alarm.receivedAt = start.addSecs(1);
    SVelmoraMsg second = heldEvent(3, QStringLiteral("B"));
    second.receivedAt = start.addSecs(2);
    QVERIFY(queue.add(test) && queue.add(alarm) && queue.add(second));

    QCOMPARE(queue.next().journalId, qint64(2));
    for (int write = 0; write < VelmoraHeldQueue::kRefusalNakCount - 1; ++write)
        QVERIFY(!queue.countAnswer(true));
    QVERIFY(queue.countAnswer(true));
    QCOMPARE(queue.refuseNext(), VelmoraHeldQueue::Refusal::OnTrial);
    QCOMPARE(queue.next().journalId, qint64(3));
    QVERIFY(!queue.countAnswer(false));

    const QVector<VelmoraHeldQueue::HeldView> views = queue.heldEvents();
    QCOMPARE(views.size(), 3);
    QCOMPARE(views.at(0).msg.journalId, qint64(1));
    QCOMPARE(views.at(0).attempts, 0);
    QVERIFY(!views.at(0).onTrial);
    QCOMPARE(views.at(1).msg.journalId, qint64(2));
    QCOMPARE(views.at(1).attempts, VelmoraHeldQueue::kRefusalNakCount);
    QVERIFY(views.at(1).onTrial);
    QCOMPARE(views.at(1).msg.deviceId, QStringLiteral("B"));
    QCOMPARE(views.at(2).msg.journalId, qint64(3));
    QCOMPARE(views.at(2).attempts, 1);
    QCOMPARE(queue.size(), 3);
}

QTEST_GUILESS_MAIN(TestVelmoraHeldQueue)
#include "tst_velmoraheldqueue.moc"
