#include "conffileplatform.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool confIsRegularFile(const QString &path)
{
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool confOpenRegularFile(QFile *file, const QString &path)
{
    // Checked before the open so that a device node is not even opened, and
    // again on the open descriptor, because the file may have been swapped in
    // between. O_NONBLOCK keeps a FIFO that appears in that moment from
    // holding the open.
    if (!confIsRegularFile(path))
        return false;
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    struct stat status {};
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags == -1
        || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1
        || !file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}
