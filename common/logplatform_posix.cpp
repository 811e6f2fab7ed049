#include "logplatform.h"

#include <QFile>

#include <sys/stat.h>

namespace {

LogFileId idOf(const struct stat &status)
{
    LogFileId id;
    id.device = static_cast<quint64>(status.st_dev);
    id.inode = static_cast<quint64>(status.st_ino);
    id.valid = true;
    return id;
}

} // namespace

FILE *logOpenAppend(const QString &path)
{
    return std::fopen(QFile::encodeName(path).constData(), "a+");
}

LogFileId logIdOfOpenFile(FILE *file)
{
    struct stat status{};
    return fstat(fileno(file), &status) == 0 ? idOf(status) : LogFileId();
}

LogFileId logIdOfPath(const QString &path)
{
    struct stat status{};
    return stat(QFile::encodeName(path).constData(), &status) == 0 ? idOf(status) : LogFileId();
}

bool logCanKeepOpen()
{
    return true;
}

bool logLocalTime(std::time_t seconds, std::tm *result)
{
    return localtime_r(&seconds, result) != nullptr;
}
