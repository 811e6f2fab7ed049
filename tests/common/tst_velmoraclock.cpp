#include "velmoraclock.h"

#include <QSignalSpy>
#include <QtTest>

// The manual clock is what every timing test stands on: a timer that fires
// early, late or twice there would make those tests pass or fail for the
// wrong reason.
class TstVelmoraClock : public QObject
{
    Q_OBJECT

private slots:
    void timersFireWhenDue_data();
    void timersFireWhenDue();
    void wallTimeFollowsIntervals();
};

void TstVelmoraClock::timersFireWhenDue_data()
{
    QTest::addColumn<bool>("singleShot");
    QTest::addColumn<int>("interval");
    QTest::addColumn<QList<int>>("steps");
    QTest::addColumn<QList<int>>("firedAfterStep");

    QTest::newRow("single shot, not yet due") << true << 1000 << QList<int>{999} << QList<int>{0};
    QTest::newRow("single shot, due exactly, once only")
        << true << 1000 << QList<int>{1000, 5000} << QList<int>{1, 1};
    QTest::newRow("repeating, several periods in one step")
        << false << 250 << QList<int>{1000, 249, 1} << QList<int>{4, 4, 5};
}

void TstVelmoraClock::timersFireWhenDue()
{
    QFETCH(bool, singleShot);
    QFETCH(int, interval);
    QFETCH(QList<int>, steps);
    QFETCH(QList<int>, firedAfterStep);

    VelmoraManualClock clock;
    VelmoraTimer timer(clock);
    timer.setSingleShot(singleShot);
    timer.start(interval);
    QSignalSpy fired(&timer, &VelmoraTimer::timeout);
    for (int i = 0; i < steps.size(); ++i) {
        clock.advance(steps.at(i));
        QCOMPARE(fired.count(), firedAfterStep.at(i));
    }
    timer.stop();
    clock.advance(100000);
    QCOMPARE(fired.count(), firedAfterStep.last());
}

void TstVelmoraClock::wallTimeFollowsIntervals()
{
    const QDateTime start(QDate(2026, 3, 1), QTime(23, 59, 59));
    VelmoraManualClock clock(start);
    VelmoraTimer timer(clock);
    timer.setSingleShot(true);
    QDateTime seenAtTimeout;
    QObject::connect(&timer, &VelmoraTimer::timeout, [&] { seenAtTimeout = clock.now(); });
    timer.start(1500);
    clock.advance(60000);
    QCOMPARE(seenAtTimeout, start.addMSecs(1500));
    QCOMPARE(clock.monotonicMs(), qint64(60000));
    QCOMPARE(clock.now(), start.addSecs(60));
}

QTEST_GUILESS_MAIN(TstVelmoraClock)
#include "tst_velmoraclock.moc"
