#include "velmoralog.h"

#include "velmoraclock.h"

#include "logplatform.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <atomic>
#include <cstdio>
#include <ctime>

namespace {

const char kFailureMessage[] =
    "Can not write to log file. Function: (VelmoraCommon_Logprintf). Library: (VelmoraCommon).";
const char kFileSuffix[] = "_Lumari.log";
constexpr int kTimeBufferSize = 40;
constexpr int kDigitsBufferSize = 96;

QMutex logMutex;
QString logDirectory;                  // guarded by logMutex
std::atomic<int> logThreshold{kLogDebug};
std::atomic<const VelmoraClock *> logClock{nullptr};
std::atomic<bool> logSuspended{false};

qint64 now()
{
    const VelmoraClock *clock = logClock.load();
    return clock ? clock->msecsSinceEpoch() / 1000 : static_cast<qint64>(std::time(nullptr));
}

QString formatAt(const char *pattern, qint64 seconds)
{
    std::tm broken{};
    if (!logLocalTime(static_cast<std::time_t>(seconds), &broken))
        return QString();
    char buffer[kTimeBufferSize];
    const std::size_t length = std::strftime(buffer, sizeof buffer, pattern, &broken);
    return QString::fromLocal8Bit(buffer, static_cast<int>(length));
}

// The day log's own two readings of the clock, written without strftime:
// glibc's strftime looks at the time zone file again on every call, which
// cost more than the rest of writing a line.
QString formatDigits(qint64 seconds, bool withTime)
{
    std::tm broken{};
    if (!logLocalTime(static_cast<std::time_t>(seconds), &broken))
        return QString();
    char buffer[kDigitsBufferSize];
    const int length = withTime
        ? std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", broken.tm_year + 1900,
                        broken.tm_mon + 1, broken.tm_mday, broken.tm_hour, broken.tm_min, broken.tm_sec)
        : std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", broken.tm_year + 1900, broken.tm_mon + 1,
                        broken.tm_mday);
    return length > 0 ? QString::fromLatin1(buffer, length) : QString();
}

const char *tagFor(int level)
{
    switch (level) {
    case kLogError:
        return "[error]";
    case kLogWarning:
        return "[warning]";
    case kLogInfo:
        return "[info]";
    case kLogDebug:
        return "[debug]";
    default:
        return "[none]";
    }
}

void printFailure()
{
    std::fputs(kFailureMessage, stdout);
    std::fflush(stdout);
}

// The day's file, kept open between lines where the system lets it be moved
// or removed meanwhile. All guarded by logMutex.
struct OpenLog
{
    FILE *file = nullptr;
    QString name;
    LogFileId id;
    bool checkedInBatch = false;
};
OpenLog openLog;
int batchDepth = 0;
// Lines of a batch wait in the file's buffer; one write takes a pass's lines.
constexpr std::size_t kBatchBufferBytes = 65536;

bool openLogFile(const QString &name)
{
    openLog.file = logOpenAppend(name);
    if (!openLog.file)
        return false;
    std::setvbuf(openLog.file, nullptr, _IOFBF, kBatchBufferBytes);
    openLog.name = name;
    openLog.id = logIdOfOpenFile(openLog.file);
    openLog.checkedInBatch = batchDepth > 0;
    return true;
}

// Writes what waits in the buffer and closes the file; false when any of it
// could not be written.
bool closeOpenLog()
{
    if (!openLog.file)
        return true;
    // A full disk may only show when the buffered lines are flushed.
    bool failed = std::ferror(openLog.file) != 0;
    if (std::fclose(openLog.file) != 0)
        failed = true;
    openLog = OpenLog();
    return !failed;
}

bool stillTheNamedFile()
{
    const LogFileId named = logIdOfPath(openLog.name);
    return openLog.id.valid && named.valid && named.device == openLog.id.device && named.inode == openLog.id.inode;
}

// After a line outside a batch, or at the end of a batch: the lines go to
// the disk now. A file that failed is closed and opened afresh for the next
// line, so that a disk that comes back is written again.
void endWriting()
{
    openLog.checkedInBatch = false;
    bool failed = false;
    if (!logCanKeepOpen()) {
        failed = !closeOpenLog();
    } else {
        failed = std::fflush(openLog.file) != 0 || std::ferror(openLog.file) != 0;
        if (failed)
            closeOpenLog();
    }
    if (failed)
        printFailure();
}

} // namespace

int VelmoraCommon_LogInit(const QString &directory, int threshold)
{
    {
        QMutexLocker locker(&logMutex);
        logDirectory = directory;
        if (!closeOpenLog())
            printFailure();
    }
    logThreshold = threshold;
    return QFileInfo(directory).isDir() ? 1 : -1;
}

namespace {

// Set once the process is about to end: no line is written after the last.
bool logEnded = false; // guarded by logMutex

// The clock's two readings turned into text, kept for the rest of their
// second: a busy second has thousands of lines. Guarded by logMutex.
struct
{
    qint64 seconds = 0;
    bool known = false; // false also while the date could not be made
    QString directory;
    QString name;
} fileNameCache;

struct
{
    qint64 seconds = 0;
    bool known = false;
    QByteArray text;
} stampCache;

const QString &fileNameAt(qint64 seconds)
{
    if (!fileNameCache.known || fileNameCache.seconds != seconds || fileNameCache.directory != logDirectory) {
        const QString date = formatDigits(seconds, false);
        fileNameCache.seconds = seconds;
        fileNameCache.known = !date.isEmpty();
        fileNameCache.directory = logDirectory;
        fileNameCache.name = logDirectory + date + QLatin1String(kFileSuffix);
    }
    return fileNameCache.name;
}

const QByteArray &stampAt(qint64 seconds)
{
    if (!stampCache.known || stampCache.seconds != seconds) {
        stampCache.text = formatDigits(seconds, true).toLatin1();
        stampCache.seconds = seconds;
        stampCache.known = !stampCache.text.isEmpty();
    }
    return stampCache.text;
}

void writeLine(const QString &message, int level)
{
    if (logEnded || logSuspended)
        return;
    const QByteArray text = message.toUtf8();
    if (logDirectory.isEmpty())
        logDirectory = QCoreApplication::applicationDirPath() + QStringLiteral("/log/");
    const QString fileName = fileNameAt(now());

    // The file kept open from the line before is still the one of this name,
    // unless the day has turned or somebody has moved or removed it; in a
    // batch that is looked at once, with its first line.
    if (openLog.file && (openLog.name != fileName || (!openLog.checkedInBatch && !stillTheNamedFile()))
        && !closeOpenLog())
        printFailure();
    if (!openLog.file && !openLogFile(fileName)) {
        printFailure();
        return;
    }
    if (batchDepth > 0)
        openLog.checkedInBatch = true;
    // The stamp is a second reading of the clock, so a line written at the
    // turn of the day can carry the next day's time in the previous day's file.
    const QByteArray stamp = stampAt(now());
    std::fprintf(openLog.file, "%s - %s %s\n", stamp.constData(), tagFor(level), text.constData());
    if (batchDepth == 0)
        endWriting();
}

} // namespace

void VelmoraCommon_Logprintf(const QString &message, int level)
{
    QMutexLocker locker(&logMutex);
    writeLine(message, level);
}

void VelmoraCommon_LogEnd(const QString &lastInfoLine)
{
    QMutexLocker locker(&logMutex);
    if (!lastInfoLine.isEmpty() && logThreshold >= kLogInfo)
        writeLine(lastInfoLine, kLogInfo);
    if (openLog.file && std::fflush(openLog.file) != 0)
        printFailure();
    logEnded = true;
}

VelmoraLogBatch::VelmoraLogBatch()
{
    QMutexLocker locker(&logMutex);
    ++batchDepth;
}

VelmoraLogBatch::~VelmoraLogBatch()
{
    QMutexLocker locker(&logMutex);
    if (--batchDepth == 0 && openLog.file)
        endWriting();
}

void VelmoraCommon_LogError(const QString &message)
{
    if (logThreshold >= kLogError)
        VelmoraCommon_Logprintf(message, kLogError);
}

void VelmoraCommon_LogInfo(const QString &message)
{
    if (logThreshold >= kLogInfo)
        VelmoraCommon_Logprintf(message, kLogInfo);
}

QString VelmoraCommon_FormatTime(const char *pattern, qint64 seconds)
{
    return formatAt(pattern, seconds == 0 ? static_cast<qint64>(std::time(nullptr)) : seconds);
}

void VelmoraCommon_SetLogClock(const VelmoraClock *clock)
{
    logClock = clock;
}

qint64 VelmoraCommon_LogNow()
{
    return now();
}

void VelmoraCommon_SetLogSuspended(bool suspended)
{
    logSuspended = suspended;
}
