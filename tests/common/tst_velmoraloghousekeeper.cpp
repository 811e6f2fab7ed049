#include "velmoraclock.h"
#include "velmoralog.h"
#include "velmoralogcompressor.h"
#include "velmoraloghousekeeper.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <csignal>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

qint64 fakeNow = 0;
// The day log's clock, set by the test to the moment it needs.
class FakeLogClock : public VelmoraClock
{
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch()); }
    qint64 monotonicMs() const override { return 0; }
    qint64 msecsSinceEpoch() const override { return fakeNow * 1000; }
};
const FakeLogClock fakeClock;

qint64 at(const char *localTime)
{
    return QDateTime::fromString(QString::fromLatin1(localTime), Qt::ISODate).toSecsSinceEpoch();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// What zcat would print; "<bad gzip>" for a file that is not a whole one.
QByteArray gunzip(const QString &path)
{
    const QByteArray packed = readFile(path);
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK)
        return "<bad gzip>";
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    stream.avail_in = static_cast<uInt>(packed.size());
    QByteArray out;
    QByteArray chunk(65536, Qt::Uninitialized);
    int code = Z_OK;
    while (code == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef *>(chunk.data());
        stream.avail_out = static_cast<uInt>(chunk.size());
        code = inflate(&stream, Z_NO_FLUSH);
        out.append(chunk.constData(), chunk.size() - static_cast<int>(stream.avail_out));
    }
    inflateEnd(&stream);
    return code == Z_STREAM_END && stream.avail_in == 0 ? out : QByteArray("<bad gzip>");
}

// A day log's worth of text that looks like one.
QByteArray dayLogText(int lines)
{
    QByteArray text;
    for (int i = 0; i < lines; ++i) {
        text += "2026-03-09 10:00:" + QByteArray::number(i % 60).rightJustified(2, '0')
            + " - [error] [net] Received packet from 10.0.0." + QByteArray::number(i % 250)
            + ":40000 : 4C4D0021010203040506" + QByteArray::number(i, 16).toUpper() + ".\n";
    }
    return text;
}

} // namespace

class TestVelmoraLogHousekeeper : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> dir;
    QString logDir() const { return dir->path() + QLatin1Char('/'); }
    QStringList files() const { return QDir(dir->path()).entryList(QDir::Files, QDir::Name); }
    VelmoraLogHousekeeper::Settings settings(int days, VelmoraLogHousekeeper::FreeSpaceProbe probe = {}) const
    {
        VelmoraLogHousekeeper::Settings result;
        result.directory = logDir();
        result.keepDays = [days] { return days; };
        result.freeSpace = std::move(probe);
        return result;
    }

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        VelmoraCommon_LogInit(logDir(), kLogDebug);
        VelmoraCommon_SetLogClock(&fakeClock);
        VelmoraCommon_SetLogSuspended(false);
    }
    void cleanup()
    {
        VelmoraCommon_SetLogClock(nullptr);
        VelmoraCommon_SetLogSuspended(false);
    }

    void namesAndPlans_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<int>("days");
        QTest::addColumn<QStringList>("pastRetention");
        QTest::addColumn<QStringList>("floorOrder");
        const QStringList mixed = {"20260310_Lumari.log", "20260301_Lumari.log", "20260305_Lumari.log.gz",
                                   "20260309_Lumari.log", "20260302_Lumari.log.gz", "notes.txt",
                                   "2026031_Lumari.log", "20261340_Lumari.log", "20260308_Lumari.log.gz.x"};
        QTest::newRow("keep all, floor takes compressed first, today never")
            << mixed << 0 << QStringList()
            << QStringList{"20260302_Lumari.log.gz", "20260305_Lumari.log.gz", "20260301_Lumari.log",
                           "20260309_Lumari.log"};
        QTest::newRow("three days: older than the 7th go")
            << mixed << 3
            << QStringList{"20260301_Lumari.log", "20260302_Lumari.log.gz", "20260305_Lumari.log.gz"}
            << QStringList{"20260302_Lumari.log.gz", "20260305_Lumari.log.gz", "20260301_Lumari.log",
                           "20260309_Lumari.log"};
        QTest::newRow("one day keeps yesterday")
            << QStringList{"20260309_Lumari.log", "20260308_Lumari.log"} << 1
            << QStringList{"20260308_Lumari.log"} << QStringList{"20260308_Lumari.log", "20260309_Lumari.log"};
    }
    void namesAndPlans()
    {
        QFETCH(QStringList, names);
        QFETCH(int, days);
        QFETCH(QStringList, pastRetention);
        QFETCH(QStringList, floorOrder);
        QVector<VelmoraLogHousekeeper::DayLog> logs;
        for (const QString &name : names) {
            VelmoraLogHousekeeper::DayLog log;
            if (VelmoraLogHousekeeper::dayLogOf(name, &log))
                logs << log;
        }
        const QDate today(2026, 3, 10);
        QStringList planned;
        for (const auto &log : VelmoraLogHousekeeper::pastRetention(logs, today, days))
            planned << log.fileName;
        QCOMPARE(planned, pastRetention);
        planned.clear();
        for (const auto &log : VelmoraLogHousekeeper::floorOrder(logs, today))
            planned << log.fileName;
        QCOMPARE(planned, floorOrder);
    }

    void retentionAndCompressionAtStartAndHourly()
    {
        const QByteArray yesterday = dayLogText(5000);
        writeFile(logDir() + "20260301_Lumari.log", "old\n");
        writeFile(logDir() + "20260305_Lumari.log.gz", "old\n");
        writeFile(logDir() + "20260307_Lumari.log", "kept, compressed\n");
        writeFile(logDir() + "20260308_Lumari.log.gz", "made before\n");
        writeFile(logDir() + "20260308_Lumari.log", "beside a compressed one\n");
        writeFile(logDir() + "20260309_Lumari.log", yesterday);
        writeFile(logDir() + "notes.txt", "not a day log\n");
        fakeNow = at("2026-03-10T00:01:00");
        VelmoraLogHousekeeper housekeeper(settings(3));
        QStringList window;
        connect(&housekeeper, &VelmoraLogHousekeeper::logSignal, this, [&](const QString &line) { window << line; });

        housekeeper.runOnce();
        // Yesterday's file may still take a line of midnight: not yet.
        QCOMPARE(files(), (QStringList{"20260307_Lumari.log.gz", "20260308_Lumari.log", "20260308_Lumari.log.gz",
                                       "20260309_Lumari.log", "20260310_Lumari.log", "notes.txt"}));
        QCOMPARE(gunzip(logDir() + "20260307_Lumari.log.gz"), QByteArray("kept, compressed\n"));
        QCOMPARE(readFile(logDir() + "20260308_Lumari.log.gz"), QByteArray("made before\n"));
        const QByteArray todays = readFile(logDir() + "20260310_Lumari.log");
        QVERIFY2(todays.contains("Day logs older than 3 days deleted: 20260301_Lumari.log, 20260305_Lumari.log.gz."),
                 todays.constData());
        QVERIFY(todays.contains("Day log 20260307_Lumari.log compressed to 20260307_Lumari.log.gz (17 bytes to "));

        // The day's turn is looked at once its grace is over, before the hour.
        fakeNow = at("2026-03-10T00:06:00");
        housekeeper.runOnce();
        QVERIFY(!files().contains("20260309_Lumari.log"));
        QCOMPARE(gunzip(logDir() + "20260309_Lumari.log.gz"), yesterday);

        // The hourly pass, and no pass in between.
        writeFile(logDir() + "20260306_Lumari.log", "old now\n");
        fakeNow = at("2026-03-10T00:36:00");
        housekeeper.runOnce();
        QVERIFY(files().contains("20260306_Lumari.log"));
        fakeNow = at("2026-03-10T01:06:00");
        housekeeper.runOnce();
        QVERIFY(!files().contains("20260306_Lumari.log"));
        QVERIFY(files().contains("20260310_Lumari.log"));
        QCOMPARE(window.size(), 4);
    }

    void killedDuringCompressionLeavesAReadableLog_data()
    {
        QTest::addColumn<int>("killAfterUs");
        QTest::newRow("at once") << 0;
        QTest::newRow("after 2 ms") << 2000;
        QTest::newRow("after 20 ms") << 20000;
        QTest::newRow("after 200 ms") << 200000;
    }
    void killedDuringCompressionLeavesAReadableLog()
    {
        QFETCH(int, killAfterUs);
        const QByteArray text = dayLogText(200000);
        const QString source = logDir() + "20260309_Lumari.log";
        const QString target = source + ".gz";
        writeFile(source, text);
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            VelmoraLogCompressor::compress(source, target);
            _exit(0);
        }
        usleep(static_cast<useconds_t>(killAfterUs));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        QCOMPARE(readFile(source), text);
        if (QFile::exists(target))
            QCOMPARE(gunzip(target), text);

        // The next start takes away what was left half written and finishes.
        fakeNow = at("2026-03-10T12:00:00");
        VelmoraLogHousekeeper housekeeper(settings(0));
        housekeeper.runOnce();
        QCOMPARE(files(), (QStringList{"20260309_Lumari.log.gz", "20260310_Lumari.log"}));
        QCOMPARE(gunzip(target), text);
    }

    void floorDeletesOldestAndSuspendsTheLog()
    {
        // A disk that holds the floor and 130 bytes more, all of it used by
        // the log directory.
        const qint64 floor = VelmoraLogHousekeeper::kFloorAboveJournal + 1000;
        qint64 capacity = floor + 130;
        auto probe = [&](const QString &directory) {
            qint64 used = 0;
            for (const QFileInfo &info : QDir(directory).entryInfoList(QDir::Files))
                used += info.size();
            return capacity - used;
        };
        VelmoraLogHousekeeper::Settings floorSettings = settings(0, probe);
        floorSettings.journalFloorBytes = 1000;
        writeFile(logDir() + "20260301_Lumari.log", QByteArray(60, 'a'));
        writeFile(logDir() + "20260302_Lumari.log.gz", QByteArray(60, 'b'));
        writeFile(logDir() + "20260303_Lumari.log.gz", QByteArray(60, 'c'));
        fakeNow = at("2026-03-10T12:00:00");
        VelmoraLogHousekeeper housekeeper(floorSettings);
        housekeeper.runOnce();
        // Compressed first; then the plain one was compressed in the same pass.
        QCOMPARE(files(), (QStringList{"20260301_Lumari.log.gz", "20260303_Lumari.log.gz", "20260310_Lumari.log"}));
        QVERIFY(!housekeeper.logSuspended());
        QCOMPARE(readFile(logDir() + "20260310_Lumari.log").count("Low disk space for the day logs"), 1);

        // Nothing left but today's: the log stops, and starts again once
        // the disk has room.
        capacity = floor;
        housekeeper.runOnce();
        QCOMPARE(files(), QStringList{"20260310_Lumari.log"});
        QVERIFY(housekeeper.logSuspended());
        const QByteArray whenStopped = readFile(logDir() + "20260310_Lumari.log");
        QVERIFY(whenStopped.endsWith("The day log stops writing until space returns.\n"));
        VelmoraCommon_LogError(QStringLiteral("dropped"));
        housekeeper.runOnce();
        QCOMPARE(readFile(logDir() + "20260310_Lumari.log"), whenStopped);
        capacity = floor * 2;
        housekeeper.runOnce();
        QVERIFY(!housekeeper.logSuspended());
        VelmoraCommon_LogError(QStringLiteral("written again"));
        const QByteArray resumed = readFile(logDir() + "20260310_Lumari.log");
        QVERIFY(resumed.contains("The day log writes again."));
        QVERIFY(resumed.endsWith("written again\n"));
    }

    void floorKeptOnASmallFilesystem()
    {
        // A real filesystem that fills: a tmpfs of 400 MiB with 100 MiB of
        // old day logs leaves less than the journal's 64 MiB and the logs'
        // 256 MiB free.
        const QString mountPoint = dir->path() + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(mountPoint));
        if (mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=400m") != 0)
            QSKIP("Cannot mount a tmpfs here (needs root): the floor is shown on a real small disk only in CI");
        const auto unmount = qScopeGuard([&] { umount(QFile::encodeName(mountPoint).constData()); });
        const QString logs = mountPoint + QLatin1Char('/');
        for (const char *name : {"20260301_Lumari.log", "20260302_Lumari.log.gz", "20260303_Lumari.log",
                                 "20260304_Lumari.log.gz", "20260305_Lumari.log"})
            writeFile(logs + QLatin1String(name), QByteArray(20 * 1024 * 1024, 'x'));
        VelmoraCommon_LogInit(logs, kLogDebug);
        fakeNow = at("2026-03-06T02:00:00");
        VelmoraCommon_Logprintf(QStringLiteral("today's first line"), kLogInfo);

        VelmoraLogHousekeeper::Settings floorSettings = settings(0, [](const QString &directory) {
            struct statvfs info {};
            return statvfs(QFile::encodeName(directory).constData(), &info) == 0
                ? qint64(info.f_bavail) * qint64(info.f_frsize)
                : qint64(-1);
        });
        floorSettings.directory = logs;
        floorSettings.journalFloorBytes = 64LL * 1024 * 1024;
        VelmoraLogHousekeeper housekeeper(floorSettings);
        housekeeper.runOnce();

        // The two compressed ones went first, and that was enough.
        QCOMPARE(QDir(mountPoint).entryList(QDir::Files, QDir::Name),
                 (QStringList{"20260301_Lumari.log.gz", "20260303_Lumari.log.gz", "20260305_Lumari.log.gz",
                              "20260306_Lumari.log"}));
        QVERIFY(floorSettings.freeSpace(logs) >= floorSettings.journalFloorBytes + VelmoraLogHousekeeper::kFloorAboveJournal);
        QVERIFY(!housekeeper.logSuspended());
        const QByteArray todays = readFile(logs + "20260306_Lumari.log");
        QVERIFY2(todays.contains("deleted: 20260302_Lumari.log.gz, 20260304_Lumari.log.gz."), todays.constData());
        VelmoraCommon_LogInit(logDir(), kLogDebug);
    }
};

QTEST_GUILESS_MAIN(TestVelmoraLogHousekeeper)
#include "tst_velmoraloghousekeeper.moc"
