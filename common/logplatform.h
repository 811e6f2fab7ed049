#ifndef LOGPLATFORM_H
#define LOGPLATFORM_H

#include <QString>

#include <cstdio>
#include <ctime>

// The two calls of the log writer that differ between platforms.

// fopen(path, "a+") with a path that may hold any characters.
FILE *logOpenAppend(const QString &path);

// Which file an open file or a path is, so that a log file kept open
// between lines is seen to have been moved or removed.
struct LogFileId
{
    quint64 device = 0;
    quint64 inode = 0;
    bool valid = false;
};
LogFileId logIdOfOpenFile(FILE *file);
LogFileId logIdOfPath(const QString &path);

// Whether the log file may stay open between lines. Not where an open file
// cannot be moved or removed: the day's log stays the operator's to move.
bool logCanKeepOpen();

// Thread-safe local broken-down time; false when the time cannot be converted.
bool logLocalTime(std::time_t seconds, std::tm *result);

#endif // LOGPLATFORM_H
