#include "velmoraeventjournal.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// A process working the journal is ended on the spot at every step of a
// compaction, in the background and called directly; the journal it leaves
// must hold every event that was pending or set aside, and none that was
// delivered. The child program says which events those are.
class TestVelmoraEventJournalCrash : public QObject
{
    Q_OBJECT

private slots:
    void endedDuringCompaction_data();
    void endedDuringCompaction();
};

namespace {

using Step = VelmoraEventJournal::CompactionStep;

constexpr int kEndedAtStep = 3;

QStringList numbers(int first, int last)
{
    QStringList list;
    for (int number = first; number <= last; ++number)
        list << QString::number(number);
    return list;
}

QStringList zonesOf(const QVector<SVelmoraMsg> &events)
{
    QStringList zones;
    for (const SVelmoraMsg &event : events)
        zones << event.zone;
    return zones;
}

} // namespace

void TestVelmoraEventJournalCrash::endedDuringCompaction_data()
{
    QTest::addColumn<bool>("background");
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("meanwhileDone");

    const QVector<QPair<const char *, Step>> steps = {
        {"started", Step::Started},
        {"header written", Step::HeaderWritten},
        {"replacement written", Step::ReplacementWritten},
        {"replacement flushed", Step::ReplacementFlushed},
        {"tail copied", Step::TailCopied},
        {"renamed", Step::Renamed},
        {"reopened", Step::Reopened},
        {"directory flushed", Step::DirectoryFlushed},
    };
    for (const bool background : {true, false}) {
        const char *mode = background ? "background" : "direct";
        for (const auto &step : steps) {
            // In the background the events and marks of "meanwhile" come
            // while the flushed replacement waits for the lock.
            const bool meanwhileDone = !background || step.second >= Step::ReplacementFlushed;
            QTest::addRow("%s, ended once %s", mode, step.first)
                << background << static_cast<int>(step.second) << meanwhileDone;
        }
        QTest::addRow("%s, compaction finished", mode) << background << -1 << true;
    }
}

void TestVelmoraEventJournalCrash::endedDuringCompaction()
{
    QFETCH(bool, background);
    QFETCH(int, step);
    QFETCH(bool, meanwhileDone);

    QTemporaryDir base;
    QVERIFY(base.isValid());
    const QString spool = base.path() + QStringLiteral("/spool");
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QStringLiteral(JOURNAL_CRASH_CHILD),
                {spool, QString::number(step), background ? QStringLiteral("background") : QStringLiteral("direct")});
    QVERIFY(child.waitForStarted());
    // Only an upper bound on a hang.
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), step < 0 ? 0 : kEndedAtStep);

    // Events 1 to 30 were delivered, 31 and 32 refused; meanwhile 41 and 42
    // came, 33 was delivered and 34 refused.
    const QStringList pending = meanwhileDone ? numbers(35, 42) : numbers(33, 40);
    const QStringList setAside = meanwhileDone ? QStringList({"31", "32", "34"}) : QStringList({"31", "32"});
    const qint64 nextId = meanwhileDone ? 43 : 41;
    {
        VelmoraEventJournal restarted(spool);
        QVERIFY2(restarted.open(), qPrintable(restarted.errorString()));
        // A process ended at any step leaves nothing that counts as damage.
        QCOMPARE(restarted.damageFound().records, 0);
        QCOMPARE(zonesOf(restarted.pendingEvents()), pending);
        QCOMPARE(zonesOf(restarted.setAsideEvents()), setAside);
        QVERIFY(!QFile::exists(restarted.filePath() + QStringLiteral(".new")));
        const QVector<SVelmoraMsg> events = restarted.pendingEvents();
        QCOMPARE(events.first().deviceId, QStringLiteral("0A0B0C"));
        // No id is handed out twice, whatever was on the disk.
        QVector<SVelmoraMsg> next(1);
        next[0].zone = QStringLiteral("next");
        QVERIFY(restarted.appendDurably(next));
        QCOMPARE(next.first().journalId, nextId);
        restarted.markDelivered(events.first().journalId);
    }

    VelmoraEventJournal reopened(spool);
    QVERIFY(reopened.open());
    QCOMPARE(zonesOf(reopened.pendingEvents()), pending.mid(1) + QStringList({"next"}));
    QCOMPARE(zonesOf(reopened.setAsideEvents()), setAside);
}

QTEST_GUILESS_MAIN(TestVelmoraEventJournalCrash)

#include "tst_velmoraeventjournalcrash.moc"
