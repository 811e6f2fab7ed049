#include "comrig.h"

#include "velmoraeventjournal.h"
#include "velmoraheldevents.h"

#include <QTemporaryDir>
#include <QtTest>

// No event is lost on the serial side: events the monitoring software has
// not acknowledged are held, in order, and go out once it answers again.
class TestVelmoraComHold : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void silentStationThenAnswering();
    void retryWithoutKeepalive();
    void closedPortHoldsEvents();
    void heldEventsSurviveReopening();
    void refusedLineSetAside();
    void storePendingEventsGoFirst();
    void everyEventRefusedIsALineFault();
    void setAsideEventAfterRestart_data();
    void setAsideEventAfterRestart();
};

namespace {

QString successLine(int number)
{
    return QStringLiteral("[com] COMMSG: ") + QString::fromLatin1(testEventLine(number));
}

QString absenceLine(int held)
{
    return QStringLiteral("[com] The monitoring software does not acknowledge; events held: %1").arg(held);
}

QString recoveryLine(int held)
{
    return QStringLiteral("[com] The monitoring software acknowledges again; held events to send: %1").arg(held);
}

QList<QByteArray> linesOf(std::initializer_list<int> numbers)
{
    QList<QByteArray> lines;
    for (const int number : numbers)
        lines.append(testEventLine(number));
    return lines;
}

// Two NAK bytes end each answer read at once, which keeps refusals short.
const ScriptedStation::Answer kFastRefusal{QByteArray("\x15\x15"), 0, false};

const QString kLineFault = QStringLiteral("[com] Line fault: the monitoring software refuses every event line; "
                                          "all events are held in order and the first is tried again. Refused: ");

// What the worker sends the window, kept as it comes.
struct WindowFeed
{
    explicit WindowFeed(VelmoraCom *worker)
    {
        QObject::connect(worker, &VelmoraCom::lineStateSignal, &context,
                         [this](const SVelmoraLineState &state) { states.append(state); });
        QObject::connect(worker, &VelmoraCom::heldRowsSignal, &context,
                         [this](const SVelmoraHeldRows &list) { rows = list; ++rowLists; });
    }
    QList<SVelmoraLineState::Kind> kinds() const
    {
        QList<SVelmoraLineState::Kind> result;
        for (const SVelmoraLineState &state : states) {
            if (result.isEmpty() || result.last() != state.kind)
                result.append(state.kind);
        }
        return result;
    }

    QObject context;
    QList<SVelmoraLineState> states;
    SVelmoraHeldRows rows;
    int rowLists = 0;
};

// The operator's button, as the Events window sends it.
void pressSendAgain(ComRig &rig, qint64 key)
{
    QMetaObject::invokeMethod(rig.worker(), [&rig, key] { rig.worker()->sendAgainSlot(key); });
}

// The journal as the program keeps it, with every event journaled before it
// reaches the serial side.
QVector<SVelmoraMsg> journaled(VelmoraEventJournal &journal, std::initializer_list<int> numbers)
{
    QVector<SVelmoraMsg> events;
    for (const int number : numbers)
        events.append(makeTestEvent(number));
    return journal.appendDurably(events) ? events : QVector<SVelmoraMsg>();
}

} // namespace

void TestVelmoraComHold::initTestCase()
{
    setUpDayLog();
}

void TestVelmoraComHold::silentStationThenAnswering()
{
    RecordingEventStore store;
    ComRig rig(kRigKeepaliveMs, &store);
    QVERIFY(rig.startAndOpen());

    rig.thread.msgSlot(makeTestEvent(1, 1));
    QVERIFY(rig.waitForLine(QStringLiteral("[com]Writing %1 to  was failed! Packet:\n").arg(rig.port())
                            + QString::fromLatin1(testEventLine(1))));
    QVERIFY(rig.waitForLine(absenceLine(1)));
    for (int number = 2; number <= 3; ++number)
        rig.thread.msgSlot(makeTestEvent(number, number));
    QTRY_COMPARE(rig.thread.heldCount(), 3);

    // While the software is away only keepalives go out.
    rig.advance(kRigKeepaliveMs);
    QVERIFY(rig.waitForLine(QStringLiteral("[com] ERROR COMMSG: Keepalive ")));
    const int eventLinesWhileAway = rig.station.eventLines().size();
    QCOMPARE(rig.station.eventLines(), linesOf({1, 1, 1}));

    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    rig.advance(kRigKeepaliveMs);
    QVERIFY(rig.waitForLine(successLine(3)));
    QVERIFY(rig.countLines(recoveryLine(3)) == 1);
    QCOMPARE(rig.station.eventLines().mid(eventLinesWhileAway), linesOf({1, 2, 3}));
    QCOMPARE(store.delivered(), (QList<qint64>{1, 2, 3}));
    QVERIFY(store.refused().isEmpty());
    QCOMPARE(rig.thread.heldCount(), 0);
    for (int number = 1; number <= 3; ++number)
        QCOMPARE(rig.countLines(successLine(number)), 1);
}

void TestVelmoraComHold::retryWithoutKeepalive()
{
    RecordingEventStore store;
    constexpr int kRetryMs = 10000;
    ComRig rig(0, &store, kRetryMs);
    rig.station.setEventDefault(ScriptedStation::nak());
    QVERIFY(rig.startAndOpen());

    rig.thread.msgSlot(makeTestEvent(1, 5));
    QVERIFY(rig.waitForLine(absenceLine(1)));
    // Nothing before the interval is over; then the retry repeats the whole
    // exchange, failure line included.
    rig.advance(kRetryMs - 1);
    QCOMPARE(rig.station.eventLines().size(), 3);
    rig.advance(1);
    QCOMPARE(rig.station.eventLines().size(), 6);
    QVERIFY(store.delivered().isEmpty());

    rig.station.setEventDefault(ScriptedStation::ack());
    rig.advance(kRetryMs);
    QVERIFY(rig.waitForLine(successLine(1)));
    QVERIFY(rig.waitForLine(recoveryLine(0)));
    QCOMPARE(store.delivered(), QList<qint64>{5});
    QCOMPARE(rig.thread.heldCount(), 0);
    QVERIFY(rig.station.keepaliveLines().isEmpty());
}

void TestVelmoraComHold::closedPortHoldsEvents()
{
    RecordingEventStore store;
    ComRig rig(0, &store);
    rig.station.setEventDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());
    rig.close();
    QVERIFY(rig.waitForLine(QStringLiteral("[com] %1 was closed successfully!").arg(rig.port())));

    rig.thread.msgSlot(makeTestEvent(1, 1));
    rig.thread.msgSlot(makeTestEvent(2, 2));
    const QString notWritten = QStringLiteral("[com] Couldn't write to %1").arg(rig.port());
    QTRY_COMPARE(rig.countLines(notWritten), 2);
    QCOMPARE(rig.thread.heldCount(), 2);
    QVERIFY(rig.station.lines().isEmpty());

    rig.open();
    QVERIFY(rig.waitForLine(successLine(2)));
    QCOMPARE(rig.station.eventLines(), linesOf({1, 2}));
    QCOMPARE(store.delivered(), (QList<qint64>{1, 2}));
    QCOMPARE(rig.thread.heldCount(), 0);
}

void TestVelmoraComHold::heldEventsSurviveReopening()
{
    // Applying settings while the software is away: the held events wait
    // through the close and go out, in order, once the port is open again.
    ComRig rig(0);
    QVERIFY(rig.startAndOpen());
    rig.thread.msgSlot(makeTestEvent(1));
    QVERIFY(rig.waitForLine(absenceLine(1)));
    rig.thread.msgSlot(makeTestEvent(2));
    QTRY_COMPARE(rig.thread.heldCount(), 2);

    // Still away after the first reopening: one more failed exchange, but
    // the absence is the same one and is not reported again.
    const QString closed = QStringLiteral("[com] %1 was closed successfully!").arg(rig.port());
    const QString failed = QStringLiteral("[com]Writing %1 to  was failed! Packet:\n").arg(rig.port())
                           + QString::fromLatin1(testEventLine(1));
    rig.close();
    QVERIFY(rig.waitForLine(closed));
    rig.open();
    QTRY_COMPARE_WITH_TIMEOUT(rig.countLines(failed), 2, 10000);
    rig.close();
    QTRY_COMPARE(rig.countLines(closed), 2);

    rig.station.setEventDefault(ScriptedStation::ack());
    const int before = rig.station.eventLines().size();
    rig.open();
    QVERIFY(rig.waitForLine(successLine(2)));
    QCOMPARE(rig.station.eventLines().mid(before), linesOf({1, 2}));
    QCOMPARE(rig.thread.heldCount(), 0);
    QCOMPARE(rig.screen().filter(QStringLiteral("The monitoring software does not acknowledge")).size(), 1);
    QCOMPARE(rig.countLines(recoveryLine(1)), 1);
}

void TestVelmoraComHold::refusedLineSetAside()
{
    RecordingEventStore store;
    ComRig rig(kRigKeepaliveMs, &store);
    // Two NAK bytes end each answer read at once, which keeps this short.
    rig.station.answerLinesContaining(testEventLine(1), ScriptedStation::Answer{QByteArray("\x15\x15"), 0, false});
    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());

    rig.thread.msgSlot(makeTestEvent(1, 11));
    rig.thread.msgSlot(makeTestEvent(2, 12));
    const QString refused = QStringLiteral("[com] Refused by the monitoring software, set aside: ")
                            + QString::fromLatin1(testEventLine(1));
    // Each refused exchange leaves the software absent until a keepalive.
    QVERIFY(rig.advanceUntil([&] { return rig.countLines(refused) == 1; }, kRigKeepaliveMs));
    QVERIFY(rig.waitForLine(successLine(2)));

    // Twenty refusals, then the one write after the second event went
    // through, refused too.
    QCOMPARE(rig.station.eventLines().count(testEventLine(1)), VelmoraHeldQueue::kRefusalNakCount + 1);
    QCOMPARE(store.refused(), QList<qint64>{11});
    QCOMPARE(store.delivered(), QList<qint64>{12});
    QCOMPARE(rig.thread.heldCount(), 0);
    QVERIFY(!rig.station.keepaliveLines().isEmpty());
    QVERIFY(dayLogLines().filter(QStringLiteral("Refused by the monitoring software")).size() >= 1);
}

void TestVelmoraComHold::storePendingEventsGoFirst()
{
    RecordingEventStore store({makeTestEvent(1, 1), makeTestEvent(2, 2)});
    ComRig rig(0, &store);
    rig.station.setEventDefault(ScriptedStation::ack());
    QVERIFY(rig.start());
    QCOMPARE(rig.thread.heldCount(), 2);
    // The Events window's list follows the store when a standby drops its
    // events and when it takes them up again at a takeover.
    WindowFeed feed(rig.worker());
    QMetaObject::invokeMethod(rig.worker(), [&rig] { rig.worker()->setHeldRowsWanted(true); });
    QTRY_COMPARE(feed.rows.size(), 2);
    QMetaObject::invokeMethod(rig.worker(), &VelmoraCom::dropHeldSlot);
    QVERIFY(rig.advanceUntil([&] { return feed.rows.isEmpty(); }, 100));
    QMetaObject::invokeMethod(rig.worker(), &VelmoraCom::reloadHeldSlot);
    QVERIFY(rig.advanceUntil([&] { return feed.rows.size() == 2; }, 100));

    // A new event, the second stored one again (still on its way when the
    // store was read) and an event that was never journaled.
    rig.thread.msgSlot(makeTestEvent(3, 3));
    rig.thread.msgSlot(makeTestEvent(2, 2));
    rig.thread.msgSlot(makeTestEvent(4));
    rig.open();
    QVERIFY(rig.waitForLine(successLine(4)));
    QCOMPARE(rig.station.eventLines(), linesOf({1, 2, 3, 4}));
    QCOMPARE(store.delivered(), (QList<qint64>{1, 2, 3}));
    QCOMPARE(rig.thread.heldCount(), 0);
}

void TestVelmoraComHold::everyEventRefusedIsALineFault()
{
    // A station that acknowledges keepalives and refuses every event line,
    // as one configured for another receiver or line number does: the
    // fault is the line's, so no event is set aside.
    RecordingEventStore store;
    constexpr int kRetryMs = 300;
    ComRig rig(kRigKeepaliveMs, &store, kRetryMs);
    QVERIFY(rig.start());
    WindowFeed feed(rig.worker());
    rig.station.setEventDefault(kFastRefusal);
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());
    for (int number = 1; number <= 3; ++number)
        rig.thread.msgSlot(makeTestEvent(number, number));

    const QString fault = kLineFault + QString::fromLatin1(testEventLine(2));
    QVERIFY(rig.advanceUntil([&] { return rig.countLines(fault) == 1; }, kRetryMs));
    QVERIFY(store.refused().isEmpty());
    QCOMPARE(rig.thread.heldCount(), 3);
    QCOMPARE(feed.kinds().last(), SVelmoraLineState::RefusingEvents);
    QVERIFY(!feed.states.last().since.isNull());

    // Only the first event is tried, on the retry timer, and the fault is
    // told once however often it is refused.
    const int linesAtFault = rig.station.eventLines().size();
    QVERIFY(rig.advanceUntil([&] { return rig.station.eventLines().size() >= linesAtFault + 9; }, kRetryMs));
    const QList<QByteArray> retried = rig.station.eventLines().mid(linesAtFault);
    QCOMPARE(retried.count(testEventLine(1)), retried.size());
    QCOMPARE(rig.screen().filter(QStringLiteral("Line fault:")).size(), 1);
    QVERIFY(store.refused().isEmpty());

    rig.station.setEventDefault(ScriptedStation::ack());
    QVERIFY(rig.advanceUntil([&] { return rig.countLines(successLine(3)) == 1; }, kRetryMs));
    QCOMPARE(store.delivered(), (QList<qint64>{1, 2, 3}));
    QVERIFY(store.refused().isEmpty());
    QCOMPARE(rig.thread.heldCount(), 0);
    QCOMPARE(rig.countLines(QStringLiteral("[com] Line fault over: the monitoring software accepts event lines "
                                           "again; held events to send: 2")),
             1);
    const QStringList successes = rig.screen().filter(QStringLiteral("[com] COMMSG: 5"));
    QCOMPARE(successes, (QStringList{successLine(1), successLine(2), successLine(3)}));
    QCOMPARE(feed.kinds().last(), SVelmoraLineState::Answering);
    QCOMPARE(feed.states.last().setAside, 0);
}

void TestVelmoraComHold::setAsideEventAfterRestart_data()
{
    QTest::addColumn<bool>("sendAgain");

    QTest::newRow("sent again: delivered once") << true;
    QTest::newRow("released: never written again") << false;
}

void TestVelmoraComHold::setAsideEventAfterRestart()
{
    QFETCH(bool, sendAgain);

    QTemporaryDir spool;
    QVERIFY(spool.isValid());
    const QByteArray refusedLine = testEventLine(1);
    qint64 refusedId = 0;
    {
        // One event refused among good ones: set aside, the others delivered.
        VelmoraEventJournal journal(spool.path());
        QVERIFY(journal.open());
        ComRig rig(kRigKeepaliveMs, &journal);
        rig.station.answerLinesContaining(refusedLine, kFastRefusal);
        rig.station.setEventDefault(ScriptedStation::ack());
        rig.station.setKeepaliveDefault(ScriptedStation::ack());
        QVERIFY(rig.startAndOpen());
        const QVector<SVelmoraMsg> events = journaled(journal, {1, 2, 3});
        QCOMPARE(events.size(), 3);
        refusedId = events.first().journalId;
        for (const SVelmoraMsg &event : events)
            rig.thread.msgSlot(event);
        const QString setAside = QStringLiteral("[com] Refused by the monitoring software, set aside: ")
                                 + QString::fromLatin1(refusedLine);
        QVERIFY(rig.advanceUntil([&] { return rig.countLines(setAside) == 1; }, kRigKeepaliveMs));
        QVERIFY(rig.waitForLine(successLine(3)));
        QCOMPARE(rig.screen().filter(QStringLiteral("Line fault")).size(), 0);
        QCOMPARE(journal.setAsideCount(), 1);
        QCOMPARE(journal.pendingCount(), 0);
    }
    {
        // A compaction keeps it, with its mark.
        VelmoraEventJournal journal(spool.path());
        QVERIFY(journal.open());
        QVERIFY(journal.compact());
        QCOMPARE(journal.setAsideCount(), 1);
    }

    VelmoraEventJournal journal(spool.path());
    QVERIFY(journal.open());
    ComRig rig(kRigKeepaliveMs, &journal);
    QVERIFY(rig.start());
    WindowFeed feed(rig.worker());
    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
    QVERIFY(rig.startAndOpen());
    // Set aside again after the restart, not pending: nothing goes out.
    QCOMPARE(rig.thread.heldCount(), 0);
    QTRY_VERIFY(!feed.states.isEmpty() && feed.states.last().setAside == 1);
    QMetaObject::invokeMethod(rig.worker(), [&rig] { rig.worker()->setHeldRowsWanted(true); });
    QTRY_COMPARE(feed.rows.size(), 1);
    const SVelmoraHeldRow row = feed.rows.first();
    QCOMPARE(row.state, SVelmoraHeldRow::SetAside);
    QCOMPARE(row.key, refusedId);
    QCOMPARE(row.lineText, QString::fromLatin1(refusedLine));
    QCOMPARE(row.msg.account, makeTestEvent(1).account);
    QVERIFY(rig.station.eventLines().isEmpty());

    if (sendAgain) {
        pressSendAgain(rig, refusedId);
        // A second press on a row already answered does nothing.
        pressSendAgain(rig, refusedId);
        QVERIFY(rig.waitForLine(successLine(1)));
        QVERIFY(rig.waitForLine(QStringLiteral("[com] Sent again by the operator: ") + QString::fromLatin1(refusedLine)));
    } else {
        QMetaObject::invokeMethod(rig.worker(), [&rig, refusedId] { rig.worker()->releaseSlot(refusedId); });
        QVERIFY(rig.waitForLine(QStringLiteral("[com] Released by the operator, not sent: ")
                                + QString::fromLatin1(refusedLine)));
        pressSendAgain(rig, refusedId);
    }
    // The next list, an interval after the last.
    rig.advance(VelmoraHeldEvents::kHeldRowsIntervalMs);
    QTRY_VERIFY(feed.rows.isEmpty());
    QTRY_COMPARE(feed.states.last().setAside, 0);
    // Let anything wrongly queued reach the line before counting.
    QTest::qWait(3 * kRigAttemptMs);
    QCOMPARE(rig.station.eventLines().count(refusedLine), sendAgain ? 1 : 0);
    QCOMPARE(journal.setAsideCount(), 0);
    QCOMPARE(journal.pendingCount(), 0);
    QVERIFY(dayLogLines().filter(sendAgain ? QStringLiteral("Sent again by the operator")
                                           : QStringLiteral("Released by the operator"))
                .size()
            >= 1);
}

QTEST_GUILESS_MAIN(TestVelmoraComHold)
#include "tst_velmoracomhold.moc"
