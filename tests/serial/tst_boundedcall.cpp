// A blocking call bounded in time: the caller is back by the limit however
// long the call takes, and what a late call made is still freed.

#include "boundedcall.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <thread>

class TestBoundedCall : public QObject
{
    Q_OBJECT

private slots:
    void callerWaitsNoLongerThanTheLimit_data();
    void callerWaitsNoLongerThanTheLimit();
};

void TestBoundedCall::callerWaitsNoLongerThanTheLimit_data()
{
    QTest::addColumn<int>("callMs");
    QTest::addColumn<bool>("inTime");
    QTest::newRow("quick call") << 0 << true;
    QTest::newRow("call longer than the limit") << 1500 << false;
}

void TestBoundedCall::callerWaitsNoLongerThanTheLimit()
{
    QFETCH(int, callMs);
    QFETCH(bool, inTime);
    constexpr unsigned kLimitMs = 200;
    // Shared with a thread that may outlive this function.
    static std::atomic<int> lateResults{0};
    lateResults = 0;

    int result = 0;
    QElapsedTimer clock;
    clock.start();
    const bool finished = runWithin<int>(
        kLimitMs,
        [callMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(callMs));
            return 42;
        },
        [](int &late) { lateResults += late; }, &result);
    const qint64 waited = clock.elapsed();

    QCOMPARE(finished, inTime);
    QVERIFY2(waited < kLimitMs + 500, qPrintable(QString::number(waited)));
    if (inTime) {
        QCOMPARE(result, 42);
        QTest::qWait(50);
        QCOMPARE(lateResults.load(), 0);
    } else {
        QCOMPARE(result, 0);
        // The call's own result reaches the clean-up once it is done.
        QVERIFY(QTest::qWaitFor([] { return lateResults.load() == 42; }, 10000));
    }
}

QTEST_GUILESS_MAIN(TestBoundedCall)
#include "tst_boundedcall.moc"
