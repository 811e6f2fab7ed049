#include "velmoraloghousekeeper.h"

#include "svelmoralogline.h"
#include "velmoralog.h"
#include "velmoralogcompressor.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

const char kContext[] = "VelmoraLogHousekeeper";
const char kTag[] = "Lumari";
const QString kPlainSuffix = QStringLiteral("_Lumari.log");
const QString kCompressedSuffix = QStringLiteral("_Lumari.log.gz");
const QString kDayPattern = QStringLiteral("yyyyMMdd");
constexpr int kDayDigits = 8;
constexpr double kBytesPerMiB = 1024.0 * 1024.0;

const char kRetentionDeleted[] =
    QT_TRANSLATE_NOOP("VelmoraLogHousekeeper", "[%1] Day logs older than %2 days deleted: %3.");
const char kCannotDelete[] = QT_TRANSLATE_NOOP("VelmoraLogHousekeeper", "[%1] Can not delete the day log %2.");
const char kCompressed[] =
    QT_TRANSLATE_NOOP("VelmoraLogHousekeeper", "[%1] Day log %2 compressed to %3 (%4 bytes to %5).");
const char kCompressedBefore[] = QT_TRANSLATE_NOOP(
    "VelmoraLogHousekeeper", "[%1] Day log %2 deleted: %3 holds it already, compressed.");
const char kCannotCompress[] =
    QT_TRANSLATE_NOOP("VelmoraLogHousekeeper", "[%1] Can not compress the day log %2: %3.");
const char kFloorDeleted[] = QT_TRANSLATE_NOOP(
    "VelmoraLogHousekeeper",
    "[%1] Low disk space for the day logs in %2: %3 MiB free, %4 MiB kept free for the event journal; "
    "deleted: %5.");
const char kStopped[] = QT_TRANSLATE_NOOP(
    "VelmoraLogHousekeeper",
    "[%1] Low disk space for the day logs in %2: %3 MiB free, %4 MiB kept free for the event journal, and no "
    "older day log is left to delete. The day log stops writing until space returns.");
const char kResumed[] = QT_TRANSLATE_NOOP(
    "VelmoraLogHousekeeper", "[%1] Disk space for the day logs in %2 sufficient again: %3 MiB free. The day log "
                             "writes again.");

QString mebibytes(qint64 bytes)
{
    return QString::number(static_cast<double>(bytes) / kBytesPerMiB, 'f', 1);
}

// %1 to %9 replaced in one pass, so that a "%" in a file name is never
// taken for a place marker.
QString filled(const char *text, const QStringList &args, bool translated)
{
    return SVelmoraLogLine::fill(translated ? QCoreApplication::translate(kContext, text) : QString::fromLatin1(text),
                                 args);
}

QString nameList(const QVector<VelmoraLogHousekeeper::DayLog> &logs)
{
    QStringList names;
    for (const VelmoraLogHousekeeper::DayLog &log : logs)
        names << log.fileName;
    return names.join(QStringLiteral(", "));
}

bool olderFirst(const VelmoraLogHousekeeper::DayLog &a, const VelmoraLogHousekeeper::DayLog &b)
{
    return a.day < b.day;
}

} // namespace

VelmoraLogHousekeeper::VelmoraLogHousekeeper(Settings newSettings, QObject *parent)
    : QObject(parent), settings(std::move(newSettings))
{
}

bool VelmoraLogHousekeeper::dayLogOf(const QString &fileName, DayLog *log)
{
    const bool compressed = fileName.endsWith(kCompressedSuffix);
    const QString &suffix = compressed ? kCompressedSuffix : kPlainSuffix;
    if (fileName.size() != kDayDigits + suffix.size() || !fileName.endsWith(suffix))
        return false;
    const QDate day = QDate::fromString(fileName.left(kDayDigits), kDayPattern);
    if (!day.isValid())
        return false;
    log->fileName = fileName;
    log->day = day;
    log->compressed = compressed;
    return true;
}

QVector<VelmoraLogHousekeeper::DayLog> VelmoraLogHousekeeper::pastRetention(const QVector<DayLog> &logs,
                                                                            const QDate &today, int days)
{
    QVector<DayLog> past;
    if (days <= 0)
        return past;
    const QDate oldestKept = today.addDays(-days);
    for (const DayLog &log : logs) {
        if (log.day < oldestKept)
            past << log;
    }
    std::stable_sort(past.begin(), past.end(), olderFirst);
    return past;
}

QVector<VelmoraLogHousekeeper::DayLog> VelmoraLogHousekeeper::floorOrder(const QVector<DayLog> &logs,
                                                                         const QDate &today)
{
    QVector<DayLog> compressed;
    QVector<DayLog> plain;
    for (const DayLog &log : logs) {
        if (log.day >= today && !log.compressed)
            continue;
        (log.compressed ? compressed : plain) << log;
    }
    std::stable_sort(compressed.begin(), compressed.end(), olderFirst);
    std::stable_sort(plain.begin(), plain.end(), olderFirst);
    return compressed + plain;
}

void VelmoraLogHousekeeper::start()
{
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &VelmoraLogHousekeeper::runOnce);
        timer->start(kFloorCheckMs);
    }
    runOnce();
}

void VelmoraLogHousekeeper::runOnce()
{
    const qint64 now = VelmoraCommon_LogNow();
    const QDate today = QDateTime::fromSecsSinceEpoch(now).date();
    if (firstPass)
        removeLeftovers();
    keepFloor(today);

    // Retention and compression are a listing and a few files: at start,
    // hourly, and once the day that turned has been over long enough for
    // its file to be finished.
    if (firstPass || now >= compressionDueAt || now - lastRetentionAt >= kRetentionPeriodSeconds) {
        firstPass = false;
        lastRetentionAt = now;
        const qint64 startOfToday = QDateTime(today.startOfDay()).toSecsSinceEpoch();
        const qint64 graceEnd = startOfToday + kCompressAfterSeconds;
        compressionDueAt = now < graceEnd ? graceEnd
                                          : QDateTime(today.addDays(1).startOfDay()).toSecsSinceEpoch()
                                                + kCompressAfterSeconds;
        applyRetention(today);
        compressFinishedDays(today, now);
    }
}

QVector<VelmoraLogHousekeeper::DayLog> VelmoraLogHousekeeper::dayLogs() const
{
    QVector<DayLog> logs;
    const QStringList names = QDir(settings.directory).entryList(QDir::Files);
    for (const QString &name : names) {
        DayLog log;
        if (dayLogOf(name, &log))
            logs << log;
    }
    return logs;
}

void VelmoraLogHousekeeper::removeLeftovers()
{
    // What a compression cut short by the end of the process left behind;
    // the plain file it came from is still there and is compressed again.
    const QVector<DayLog> logs = dayLogs();
    const QStringList names = QDir(settings.directory).entryList(QDir::Files | QDir::Hidden);
    for (const DayLog &log : logs) {
        if (log.compressed)
            continue;
        const QString target = log.fileName + QStringLiteral(".gz");
        for (const QString &name : names) {
            if (VelmoraLogCompressor::isLeftoverOf(name, target))
                QFile::remove(settings.directory + name);
        }
    }
}

void VelmoraLogHousekeeper::keepFloor(const QDate &today)
{
    if (!settings.freeSpace)
        return;
    const qint64 floor = settings.journalFloorBytes + kFloorAboveJournal;
    qint64 free = settings.freeSpace(settings.directory);
    if (free < 0)
        return;
    if (free < floor) {
        QVector<DayLog> deleted;
        for (const DayLog &log : floorOrder(dayLogs(), today)) {
            if (free >= floor)
                break;
            if (QFile::remove(settings.directory + log.fileName))
                deleted << log;
            free = settings.freeSpace(settings.directory);
        }
        const QStringList args = {QLatin1String(kTag), QDir::toNativeSeparators(settings.directory),
                                  mebibytes(free), mebibytes(floor)};
        if (!deleted.isEmpty())
            report(kFloorDeleted, QStringList(args) << nameList(deleted), true);
        if (free < floor && !suspended) {
            // The last line before the gap; standard error has it too, for
            // a service whose window nobody looks at.
            const QString line = filled(kStopped, args, false);
            VelmoraCommon_LogError(line);
            std::fprintf(stderr, "%s\n", line.toUtf8().constData());
            std::fflush(stderr);
            emit logSignal(filled(kStopped, args, true));
            suspended = true;
            VelmoraCommon_SetLogSuspended(true);
        }
    }
    // Back a little above the floor, so that the log's own lines do not
    // stop and start it over and over.
    if (suspended && free >= floor + floor / 16) {
        suspended = false;
        VelmoraCommon_SetLogSuspended(false);
        const QStringList args = {QLatin1String(kTag), QDir::toNativeSeparators(settings.directory), mebibytes(free)};
        VelmoraCommon_LogError(filled(kResumed, args, false));
        emit logSignal(filled(kResumed, args, true));
    }
}

void VelmoraLogHousekeeper::applyRetention(const QDate &today)
{
    const int days = settings.keepDays ? settings.keepDays() : 0;
    QVector<DayLog> deleted;
    for (const DayLog &log : pastRetention(dayLogs(), today, days)) {
        if (QFile::remove(settings.directory + log.fileName))
            deleted << log;
        else
            report(kCannotDelete, {QLatin1String(kTag), log.fileName}, true);
    }
    if (!deleted.isEmpty())
        report(kRetentionDeleted, {QLatin1String(kTag), QString::number(days), nameList(deleted)}, false);
}

void VelmoraLogHousekeeper::compressFinishedDays(const QDate &today, qint64 now)
{
    const qint64 secondsIntoDay = QDateTime(today.startOfDay()).secsTo(QDateTime::fromSecsSinceEpoch(now));
    const QVector<DayLog> logs = dayLogs();
    for (const DayLog &log : logs) {
        if (log.compressed || log.day >= today)
            continue;
        // Yesterday's file may still take a line written at midnight.
        if (log.day == today.addDays(-1) && secondsIntoDay < kCompressAfterSeconds)
            continue;
        const QString target = log.fileName + QStringLiteral(".gz");
        // A compressed file of that day is never rewritten. When it holds
        // just what the plain one does, the process ended between making it
        // and removing the plain one, which goes now; otherwise both stay
        // for the operator to look at.
        if (QFile::exists(settings.directory + target)) {
            if (VelmoraLogCompressor::holdsSame(settings.directory + target, settings.directory + log.fileName)
                && QFile::remove(settings.directory + log.fileName)) {
                report(kCompressedBefore, {QLatin1String(kTag), log.fileName, target}, false);
            }
            continue;
        }
        const VelmoraLogCompressor::Result result =
            VelmoraLogCompressor::compress(settings.directory + log.fileName, settings.directory + target);
        if (!result.ok) {
            report(kCannotCompress, {QLatin1String(kTag), log.fileName, result.error}, true);
            continue;
        }
        if (!QFile::remove(settings.directory + log.fileName)) {
            report(kCannotDelete, {QLatin1String(kTag), log.fileName}, true);
            continue;
        }
        report(kCompressed,
               {QLatin1String(kTag), log.fileName, target, QString::number(result.sourceBytes),
                QString::number(result.targetBytes)},
               false);
    }
}

void VelmoraLogHousekeeper::report(const char *text, const QStringList &args, bool error)
{
    const SVelmoraLogLine line = SVelmoraLogLine::make(kContext, text, SVelmoraLogLine::Screen::Translated, text,
                                                       error ? kLogError : kLogInfo, args);
    line.writeToDayLog();
    emit logSignal(line.screenText);
}
