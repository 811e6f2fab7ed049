#ifndef LOGPLATFORM_H
#define LOGPLATFORM_H

#include <QString>

#include <cstdio>
#include <ctime>

// The two calls of the log writer that differ between platforms.

// fopen(path, "a+") with a path that may hold any characters.
FILE *logOpenAppend(const QString &path);

// Thread-safe local broken-down time; false when the time cannot be converted.
bool logLocalTime(std::time_t seconds, std::tm *result);

#endif // LOGPLATFORM_H
