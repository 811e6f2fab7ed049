#include "comrig.h"

#include "velmoraconf.h"

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

} // namespace

void TestVelmoraComHold::initTestCase()
{
    setUpDayLog();
    VelmoraCommon_GetConf()->useTime = 0;
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
    QVERIFY(rig.waitForLine(QStringLiteral("[com] ERROR COMMSG: Keepalive ")));
    const int eventLinesWhileAway = rig.station.eventLines().size();
    QCOMPARE(rig.station.eventLines(), linesOf({1, 1, 1}));

    rig.station.setEventDefault(ScriptedStation::ack());
    rig.station.setKeepaliveDefault(ScriptedStation::ack());
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
    ComRig rig(0, &store, 2 * kRigAttemptMs);
    rig.station.setEventDefault(ScriptedStation::nak());
    QVERIFY(rig.startAndOpen());

    rig.thread.msgSlot(makeTestEvent(1, 5));
    QVERIFY(rig.waitForLine(absenceLine(1)));
    // The retry repeats the whole exchange, failure line included.
    QTRY_VERIFY_WITH_TIMEOUT(rig.station.eventLines().size() >= 6, 10000);
    QVERIFY(store.delivered().isEmpty());

    rig.station.setEventDefault(ScriptedStation::ack());
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
    QVERIFY(rig.waitForLine(refused, 30000));
    QVERIFY(rig.waitForLine(successLine(2)));

    QCOMPARE(rig.station.eventLines().count(testEventLine(1)), 20);
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

QTEST_GUILESS_MAIN(TestVelmoraComHold)
#include "tst_velmoracomhold.moc"
