#ifndef VELMORALOG_H
#define VELMORALOG_H

#include <QString>
#include <QtGlobal>

class VelmoraClock;

// Day log: one file per local date in the log directory, named
// yyyymmdd_Lumari.log, one "time - [tag] message" line per call.
// Every function here may be called from any thread.

enum VelmoraLogLevel {
    kLogError = 1,
    kLogWarning = 2,
    kLogInfo = 3,
    kLogDebug = 4,
};

// Stores the directory (ending with a slash) and the level threshold.
// 1 when the directory exists, -1 when it does not; it is never created here.
int VelmoraCommon_LogInit(const QString &directory, int threshold);

// Appends one line whatever the threshold. When the file cannot be written
// the failure message goes to standard output and the caller carries on.
void VelmoraCommon_Logprintf(const QString &message, int level);

// While one of these lives on any thread, lines are gathered and written
// together when the last one ends: one write for a pass's worth of lines
// instead of one each. Keep it to a pass of an event loop; lines wait in
// memory until it ends.
class VelmoraLogBatch
{
public:
    VelmoraLogBatch();
    ~VelmoraLogBatch();
    VelmoraLogBatch(const VelmoraLogBatch &) = delete;
    VelmoraLogBatch &operator=(const VelmoraLogBatch &) = delete;
};

// For a process about to end without its exit handlers (std::_Exit), on
// any thread: writes the last line (at the info level; none when empty) and
// what an open batch holds, and nothing after them.
void VelmoraCommon_LogEnd(const QString &lastInfoLine = QString());

// Level 1, written when the threshold is at least 1.
void VelmoraCommon_LogError(const QString &message);

// Level 3, written when the threshold is at least 3.
void VelmoraCommon_LogInfo(const QString &message);

// strftime of the local time; seconds since the epoch, 0 meaning now.
QString VelmoraCommon_FormatTime(const char *pattern, qint64 seconds);

// The clock the writer reads its time stamps and day from: the program's
// clock, or one a test moves to cross midnight; nullptr brings back the
// system clock. It must live as long as anything may still log.
void VelmoraCommon_SetLogClock(const VelmoraClock *clock);
// What that clock says now.
qint64 VelmoraCommon_LogNow();

// While suspended, lines are dropped instead of written: the disk is too
// full for the day log to take more without the event journal losing the
// space it needs. Set and cleared by the log housekeeping.
void VelmoraCommon_SetLogSuspended(bool suspended);

#endif // VELMORALOG_H
