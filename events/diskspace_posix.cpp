#include "diskspace.h"

#include <QFile>

#include <sys/statvfs.h>

#include <cerrno>

qint64 DiskSpace::freeBytes(const QString &path, QString *error)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0) {
        const int code = errno;
        if (error)
            *error = QStringLiteral("Cannot tell the free space of %1: %2").arg(path, qt_error_string(code));
        return -1;
    }
    // f_bavail leaves out the blocks kept for the superuser.
    return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
}
