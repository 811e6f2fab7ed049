#include "durablefile.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kFileMode = 0644;

QString systemErrorText(int code)
{
    return qt_error_string(code);
}

QString withReason(const QString &action, const QString &path, int code)
{
    return QStringLiteral("%1 %2: %3").arg(action, path, systemErrorText(code));
}

} // namespace

DurableFile::~DurableFile()
{
    close();
}

bool DurableFile::open(const QString &filePath)
{
    close();
    path = filePath;
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, kFileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        setSystemError(QStringLiteral("Cannot open"));
        return false;
    }
    nativeHandle = fd;
    return true;
}

bool DurableFile::isOpen() const
{
    return nativeHandle >= 0;
}

void DurableFile::close()
{
    if (nativeHandle >= 0) {
        // Everything that matters was synced before; a failing close loses
        // nothing that was reported durable.
        ::close(static_cast<int>(nativeHandle));
        nativeHandle = -1;
    }
}

qint64 DurableFile::size()
{
    struct stat status {};
    if (::fstat(static_cast<int>(nativeHandle), &status) != 0) {
        setSystemError(QStringLiteral("Cannot read"));
        return -1;
    }
    return static_cast<qint64>(status.st_size);
}

bool DurableFile::readAt(qint64 offset, int size, QByteArray *bytes)
{
    const int fd = static_cast<int>(nativeHandle);
    bytes->resize(size);
    int done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, bytes->data() + done, static_cast<size_t>(size - done),
                                      static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            setSystemError(QStringLiteral("Cannot read"));
            return false;
        }
        if (count == 0)
            break;
        done += static_cast<int>(count);
    }
    bytes->resize(done);
    return true;
}

bool DurableFile::writeAt(qint64 offset, const QByteArray &bytes)
{
    const int fd = static_cast<int>(nativeHandle);
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::pwrite(fd, bytes.constData() + done,
                                       static_cast<size_t>(bytes.size() - done), offset + done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            if (count == 0)
                errno = ENOSPC;
            setSystemError(QStringLiteral("Cannot write"));
            return false;
        }
        done += count;
    }
    return true;
}

bool DurableFile::sync()
{
    int result;
    do {
        result = ::fdatasync(static_cast<int>(nativeHandle));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        setSystemError(QStringLiteral("Cannot flush to disk"));
        return false;
    }
    return true;
}

bool DurableFile::truncate(qint64 size)
{
    int result;
    do {
        result = ::ftruncate(static_cast<int>(nativeHandle), static_cast<off_t>(size));
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        setSystemError(QStringLiteral("Cannot truncate"));
        return false;
    }
    return true;
}

QString DurableFile::errorString() const
{
    return lastError;
}

void DurableFile::setSystemError(const QString &action)
{
    lastError = withReason(action, path, errno);
}

bool DurableFile::replace(const QString &source, const QString &target, QString *error)
{
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = withReason(QStringLiteral("Cannot replace"), target, errno);
        return false;
    }
    return true;
}

bool DurableFile::syncDirectory(const QString &directory, QString *error)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *error = withReason(QStringLiteral("Cannot open"), directory, errno);
        return false;
    }
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    const int syncError = errno;
    ::close(fd);
    if (result != 0) {
        *error = withReason(QStringLiteral("Cannot flush to disk"), directory, syncError);
        return false;
    }
    return true;
}
