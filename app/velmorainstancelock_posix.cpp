#include "velmorainstancelock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr mode_t kLockFileMode = 0644;

} // namespace

VelmoraInstanceLock::VelmoraInstanceLock(const QString &filePath)
    : path(filePath)
{
}

VelmoraInstanceLock::~VelmoraInstanceLock()
{
    release();
}

VelmoraInstanceLock::Result VelmoraInstanceLock::tryLock()
{
    if (isLocked())
        return Locked;
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kLockFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        lastError = QStringLiteral("Cannot open %1: %2").arg(path, qt_error_string(errno));
        return Failed;
    }
    // flock() belongs to the open file description, so a second open in the
    // same process is refused as well, not only another process.
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int code = errno;
        ::close(fd);
        if (code == EWOULDBLOCK)
            return HeldElsewhere;
        lastError = QStringLiteral("Cannot lock %1: %2").arg(path, qt_error_string(code));
        return Failed;
    }
    nativeHandle = fd;
    return Locked;
}

void VelmoraInstanceLock::release()
{
    if (nativeHandle != -1) {
        ::close(static_cast<int>(nativeHandle));
        nativeHandle = -1;
    }
}
