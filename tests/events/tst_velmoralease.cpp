// The lease's decisions, on given times: what is due, how long a grant is
// trusted, and what a late or foreign answer does.

#include "velmoralease.h"

#include <QtTest>

Q_DECLARE_METATYPE(VelmoraLease::Step)

class TestVelmoraLease : public QObject
{
    Q_OBJECT

private slots:
    void decisions_data();
    void decisions();
};

void TestVelmoraLease::decisions_data()
{
    // A script of steps at given milliseconds, with the default timing
    // (renew 3000, duration 10000, standby try 1000, margin 500):
    //   sN  the request due is sent at N
    //   gN:E  the database granted epoch E, answered at N
    //   lN  the request failed at N
    // then, at the time asked, the step due and whether the lease is held.
    QTest::addColumn<QString>("script");
    QTest::addColumn<qint64>("askedAt");
    QTest::addColumn<VelmoraLease::Step>("step");
    QTest::addColumn<bool>("holds");

    using Step = VelmoraLease::Step;
    QTest::newRow("a new standby asks at once") << "" << qint64(0) << Step::Acquire << false;
    QTest::newRow("a standby waits a try between requests") << "s0 l100" << qint64(999) << Step::Wait << false;
    QTest::newRow("and asks again after it") << "s0 l100" << qint64(1000) << Step::Acquire << false;
    QTest::newRow("granted: active, renewal not yet due") << "s0 g200:1" << qint64(2999) << Step::Wait << true;
    QTest::newRow("renewal due a period after the request") << "s0 g200:1" << qint64(3000) << Step::Renew << true;
    QTest::newRow("a renewal in time keeps it active")
        << "s0 g200:1 s3000 g3100:1" << qint64(12000) << Step::Renew << true;
    QTest::newRow("trusted from the request, less the margin, not from the answer")
        << "s0 g9000:1" << qint64(9500) << Step::Fence << false;
    QTest::newRow("unrenewed: fenced at the end of the trusted time") << "s0 g200:1 s3000" << qint64(9500)
                                                                      << Step::Fence << false;
    QTest::newRow("an answer after the grant ran out counts as lost")
        << "s0 g9500:1" << qint64(9500) << Step::Acquire << false;
    QTest::newRow("a renewal answered with another epoch is no renewal")
        << "s0 g200:1 s3000 g3100:2" << qint64(3100) << Step::Wait << false;
    QTest::newRow("fenced: the others have the lease's expiry and two tries first")
        << "s0 g200:1 l5000" << qint64(16999) << Step::Wait << false;
    QTest::newRow("fenced: then it asks again") << "s0 g200:1 l5000" << qint64(17000) << Step::Acquire << false;
    QTest::newRow("granted again after fencing, with the new epoch")
        << "s0 g200:1 l5000 s17000 g17100:3" << qint64(17100) << Step::Wait << true;
}

void TestVelmoraLease::decisions()
{
    QFETCH(QString, script);
    QFETCH(qint64, askedAt);
    QFETCH(VelmoraLease::Step, step);
    QFETCH(bool, holds);

    VelmoraLease lease;
    qint64 epoch = 0;
    for (const QString &word : script.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList parts = word.mid(1).split(QLatin1Char(':'));
        const qint64 at = parts.at(0).toLongLong();
        switch (word.at(0).toLatin1()) {
        case 's':
            QVERIFY2(lease.due(at) != VelmoraLease::Step::Wait, qPrintable(word));
            lease.requestSent(at);
            break;
        case 'g': {
            const bool wasStandby = !lease.isActive();
            const bool becameActive = lease.granted(parts.at(1).toLongLong(), at);
            // True only when a standby became active.
            QCOMPARE(becameActive, wasStandby && lease.isActive());
            if (lease.isActive())
                epoch = parts.at(1).toLongLong();
            break;
        }
        case 'l':
            lease.lost(at);
            break;
        default:
            QFAIL(qPrintable(word));
        }
    }
    QCOMPARE(lease.due(askedAt), step);
    QCOMPARE(lease.holds(askedAt), holds);
    if (holds)
        QCOMPARE(lease.epoch(), epoch);
}

QTEST_GUILESS_MAIN(TestVelmoraLease)
#include "tst_velmoralease.moc"
