#include "velmoraclock.h"
#include "velmoralog.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

const char kFailureMessage[] =
    "Can not write to log file. Function: (VelmoraCommon_Logprintf). Library: (VelmoraCommon).";

// A clock the test can move; the writer reads it twice per line.
std::atomic<qint64> fakeSeconds{0};
std::atomic<int> fakeReads{0};
std::atomic<int> stepAfterReads{-1};
std::atomic<qint64> stepTo{0};

qint64 fakeSecondsRead()
{
    const int read = ++fakeReads;
    if (read == stepAfterReads)
        fakeSeconds = stepTo.load();
    return fakeSeconds;
}

class FakeLogClock : public VelmoraClock
{
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch()); }
    qint64 monotonicMs() const override { return 0; }
    qint64 msecsSinceEpoch() const override { return fakeSecondsRead() * 1000; }
};
const FakeLogClock fakeClock;

// Local midnight of 31 January 2015, as seconds since the epoch.
qint64 localMidnight()
{
    std::tm broken{};
    broken.tm_year = 2015 - 1900;
    broken.tm_mon = 1;
    broken.tm_mday = 1;
    broken.tm_isdst = -1;
    return static_cast<qint64>(std::mktime(&broken));
}

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines;
}

// Runs a callable with standard output sent to a file and returns what it printed.
template <typename Callable>
QByteArray captureStdout(const QString &capturePath, Callable callable)
{
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    FILE *capture = std::fopen(QFile::encodeName(capturePath).constData(), "w");
    dup2(fileno(capture), STDOUT_FILENO);
    callable();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::fclose(capture);
    QFile file(capturePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestVelmoraLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void lineFormatAndTags_data();
    void lineFormatAndTags();
    void thresholds_data();
    void thresholds();
    void cyrillicIsUtf8();
    void initReportsMissingDirectory();
    void concurrentWritersNeverInterleave();
    void removedDirectoryPrintsFailureAndCarriesOn();
    void dayChange();
    void movedOrRemovedFileIsStartedAfresh();
    void batchedLinesReachTheirDaysFiles();
    void formatTime();

private:
    QString logDir() const { return dir.path() + QStringLiteral("/log/"); }
    QString todayFile() const
    {
        return logDir() + QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral("_Lumari.log");
    }
    QTemporaryDir dir;
};

void TestVelmoraLog::init()
{
    QVERIFY(dir.isValid());
    QDir(logDir()).removeRecursively();
    QVERIFY(QDir().mkpath(logDir()));
    QCOMPARE(VelmoraCommon_LogInit(logDir(), 4), 1);
    VelmoraCommon_SetLogClock(nullptr);
}

void TestVelmoraLog::cleanup()
{
    VelmoraCommon_SetLogClock(nullptr);
}

void TestVelmoraLog::lineFormatAndTags_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("tag");
    QTest::newRow("error") << 1 << "[error]";
    QTest::newRow("warning") << 2 << "[warning]";
    QTest::newRow("info") << 3 << "[info]";
    QTest::newRow("debug") << 4 << "[debug]";
    QTest::newRow("zero") << 0 << "[none]";
    QTest::newRow("five") << 5 << "[none]";
    QTest::newRow("negative") << -1 << "[none]";
}

void TestVelmoraLog::lineFormatAndTags()
{
    QFETCH(int, level);
    QFETCH(QString, tag);
    VelmoraCommon_Logprintf(QStringLiteral("[net] first"), level);
    VelmoraCommon_Logprintf(QStringLiteral("[net] second"), level);

    const QStringList lines = linesOf(todayFile());
    QCOMPARE(lines.size(), 2);
    const QRegularExpression format(QStringLiteral(
        "^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} - %1 \\[net\\] first$").arg(QRegularExpression::escape(tag)));
    QVERIFY2(format.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
    QVERIFY(lines.at(1).endsWith(tag + QStringLiteral(" [net] second")));
}

void TestVelmoraLog::thresholds_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QStringList>("written");
    QTest::newRow("0: nothing") << 0 << QStringList();
    QTest::newRow("1: errors") << 1 << QStringList{"[error] E"};
    QTest::newRow("2: errors") << 2 << QStringList{"[error] E"};
    QTest::newRow("3: both") << 3 << QStringList{"[error] E", "[info] I"};
    QTest::newRow("4: both") << 4 << QStringList{"[error] E", "[info] I"};
}

void TestVelmoraLog::thresholds()
{
    QFETCH(int, threshold);
    QFETCH(QStringList, written);
    QCOMPARE(VelmoraCommon_LogInit(logDir(), threshold), 1);
    VelmoraCommon_LogError(QStringLiteral("E"));
    VelmoraCommon_LogInfo(QStringLiteral("I"));
    // Logprintf itself writes whatever the threshold.
    VelmoraCommon_Logprintf(QStringLiteral("D"), 4);

    QStringList tails;
    for (const QString &line : linesOf(todayFile()))
        tails << line.section(QStringLiteral(" - "), 1);
    QCOMPARE(tails, written + QStringList{"[debug] D"});
}

void TestVelmoraLog::cyrillicIsUtf8()
{
    VelmoraCommon_LogInfo(QStringLiteral("[Lumari] Запуск..."));
    QFile file(todayFile());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().endsWith(" - [info] [Lumari] \xd0\x97\xd0\xb0\xd0\xbf\xd1\x83\xd1\x81\xd0\xba...\n"));
}

void TestVelmoraLog::initReportsMissingDirectory()
{
    QCOMPARE(VelmoraCommon_LogInit(dir.path() + QStringLiteral("/absent/"), 4), -1);
    QVERIFY(!QFile::exists(dir.path() + QStringLiteral("/absent")));

    QFile plain(dir.path() + QStringLiteral("/plainfile"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QCOMPARE(VelmoraCommon_LogInit(dir.path() + QStringLiteral("/plainfile/"), 4), -1);
}

void TestVelmoraLog::concurrentWritersNeverInterleave()
{
    constexpr int kThreads = 3;
    constexpr int kLinesPerThread = 2000;
    QVector<QThread *> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads << QThread::create([t] {
            for (int i = 0; i < kLinesPerThread; ++i)
                VelmoraCommon_LogError(QStringLiteral("[t%1] line %2 %3").arg(t).arg(i).arg(QString(40, QLatin1Char('x'))));
        });
        threads.constLast()->start();
    }
    for (QThread *thread : threads) {
        QVERIFY(thread->wait(120000));
        delete thread;
    }

    const QStringList lines = linesOf(todayFile());
    QCOMPARE(lines.size(), kThreads * kLinesPerThread);
    const QRegularExpression whole(QStringLiteral("^\\S+ \\S+ - \\[error\\] \\[t(\\d)\\] line (\\d+) x{40}$"));
    QVector<int> next(kThreads, 0);
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = whole.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int thread = match.captured(1).toInt();
        // Each writer's lines keep their order.
        QCOMPARE(match.captured(2).toInt(), next[thread]++);
    }
}

void TestVelmoraLog::removedDirectoryPrintsFailureAndCarriesOn()
{
    QVERIFY(QDir(logDir()).removeRecursively());
    const QByteArray printed = captureStdout(dir.filePath(QStringLiteral("stdout.txt")), [] {
        VelmoraCommon_LogError(QStringLiteral("lost one"));
        VelmoraCommon_LogInfo(QStringLiteral("lost two"));
    });
    QCOMPARE(printed, QByteArray(kFailureMessage) + QByteArray(kFailureMessage));
    QVERIFY(!QFile::exists(logDir()));

    // Once the directory is back, lines are written again.
    QVERIFY(QDir().mkpath(logDir()));
    VelmoraCommon_LogError(QStringLiteral("back"));
    QCOMPARE(linesOf(todayFile()).size(), 1);
}

void TestVelmoraLog::dayChange()
{
    const qint64 midnight = localMidnight();
    const QString before = logDir() + QStringLiteral("20150131_Lumari.log");
    const QString after = logDir() + QStringLiteral("20150201_Lumari.log");
    VelmoraCommon_SetLogClock(&fakeClock);

    fakeSeconds = midnight - 2;
    stepAfterReads = -1;
    VelmoraCommon_LogError(QStringLiteral("before midnight"));
    fakeSeconds = midnight;
    VelmoraCommon_LogError(QStringLiteral("after midnight"));

    // The clock turns between the file name and the stamp: the line stays in
    // the old day's file with the new day's time.
    fakeSeconds = midnight - 1;
    fakeReads = 0;
    stepTo = midnight + 1;
    stepAfterReads = 2;
    VelmoraCommon_LogError(QStringLiteral("at the turn"));
    stepAfterReads = -1;

    const QStringList old = linesOf(before);
    QCOMPARE(old.size(), 2);
    QVERIFY(old.at(0).startsWith(QStringLiteral("2015-01-31 23:59:58 - [error] before midnight")));
    QVERIFY(old.at(1).startsWith(QStringLiteral("2015-02-01 00:00:01 - [error] at the turn")));
    const QStringList fresh = linesOf(after);
    QCOMPARE(fresh, QStringList{QStringLiteral("2015-02-01 00:00:00 - [error] after midnight")});
}

void TestVelmoraLog::movedOrRemovedFileIsStartedAfresh()
{
    // The writer may keep the file open between lines; an operator moving
    // or removing the day's file must not send the next lines after it.
    VelmoraCommon_LogError(QStringLiteral("first"));
    const QString moved = logDir() + QStringLiteral("moved.log");
    QVERIFY(QFile::rename(todayFile(), moved));
    VelmoraCommon_LogError(QStringLiteral("second"));
    QVERIFY(QFile::remove(todayFile()));
    {
        const VelmoraLogBatch batch;
        VelmoraCommon_LogError(QStringLiteral("third"));
        VelmoraCommon_LogError(QStringLiteral("fourth"));
    }

    QCOMPARE(linesOf(moved).size(), 1);
    const QStringList lines = linesOf(todayFile());
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).endsWith(QStringLiteral("[error] third")));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("[error] fourth")));
}

void TestVelmoraLog::batchedLinesReachTheirDaysFiles()
{
    const qint64 midnight = localMidnight();
    VelmoraCommon_SetLogClock(&fakeClock);
    stepAfterReads = -1;
    {
        const VelmoraLogBatch outer;
        fakeSeconds = midnight - 1;
        VelmoraCommon_LogError(QStringLiteral("one"));
        {
            const VelmoraLogBatch inner;
            VelmoraCommon_LogError(QStringLiteral("two"));
        }
        fakeSeconds = midnight;
        VelmoraCommon_LogError(QStringLiteral("three"));
        // Another thread's line in the meantime keeps its place.
        QThread *other = QThread::create([] { VelmoraCommon_LogError(QStringLiteral("four")); });
        other->start();
        QVERIFY(other->wait(10000));
        delete other;
    }
    const QStringList before = linesOf(logDir() + QStringLiteral("20150131_Lumari.log"));
    const QStringList after = linesOf(logDir() + QStringLiteral("20150201_Lumari.log"));
    QCOMPARE(before, (QStringList{QStringLiteral("2015-01-31 23:59:59 - [error] one"),
                                  QStringLiteral("2015-01-31 23:59:59 - [error] two")}));
    QCOMPARE(after, (QStringList{QStringLiteral("2015-02-01 00:00:00 - [error] three"),
                                 QStringLiteral("2015-02-01 00:00:00 - [error] four")}));
}

void TestVelmoraLog::formatTime()
{
    const qint64 midnight = localMidnight();
    QCOMPARE(VelmoraCommon_FormatTime("%Y%m%d %H:%M:%S", midnight), QStringLiteral("20150201 00:00:00"));
    QCOMPARE(VelmoraCommon_FormatTime("%Y%m%d", 0), QDate::currentDate().toString(QStringLiteral("yyyyMMdd")));
    // Longer than the 40-byte buffer: strftime gives nothing rather than overrun.
    QCOMPARE(VelmoraCommon_FormatTime("%Y-%m-%d %H:%M:%S %Y-%m-%d %H:%M:%S %Y", midnight), QString());
}

QTEST_GUILESS_MAIN(TestVelmoraLog)
#include "tst_velmoralog.moc"
