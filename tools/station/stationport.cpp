#include "stationport.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool speedFromRate(int rate, speed_t *speed)
{
    switch (rate) {
    case 1200: *speed = B1200; return true;
    case 2400: *speed = B2400; return true;
    case 4800: *speed = B4800; return true;
    case 9600: *speed = B9600; return true;
    case 19200: *speed = B19200; return true;
    case 38400: *speed = B38400; return true;
    case 57600: *speed = B57600; return true;
    case 115200: *speed = B115200; return true;
    default: return false;
    }
}

bool makeNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

} // namespace

StationPort::~StationPort()
{
    if (!linkPath.isEmpty())
        ::unlink(QFile::encodeName(linkPath).constData());
    if (slaveFd >= 0)
        ::close(slaveFd);
    if (portFd >= 0)
        ::close(portFd);
}

bool StationPort::fail(const QString &what)
{
    error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(errno)));
    return false;
}

bool StationPort::openDevice(const QString &path, int baudRate)
{
    speed_t speed = B19200;
    if (!speedFromRate(baudRate, &speed)) {
        error = QStringLiteral("unsupported line speed %1").arg(baudRate);
        return false;
    }
    portFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (portFd < 0)
        return fail(QStringLiteral("cannot open %1").arg(path));
    termios settings{};
    if (tcgetattr(portFd, &settings) != 0)
        return fail(QStringLiteral("cannot read the settings of %1").arg(path));
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | PARENB);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(portFd, TCSANOW, &settings) != 0)
        return fail(QStringLiteral("cannot configure %1").arg(path));
    portPath = path;
    return true;
}

bool StationPort::createPseudoTerminal(const QString &link)
{
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    // Raw from the start: an echoing terminal would hand the converter its
    // own line back as the answer.
    if (::openpty(&portFd, &slaveFd, name, &raw, nullptr) != 0)
        return fail(QStringLiteral("cannot create a pseudo-terminal"));
    if (!makeNonBlocking(portFd))
        return fail(QStringLiteral("cannot make the pseudo-terminal non-blocking"));
    ::fcntl(portFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    portPath = QString::fromLocal8Bit(name);
    if (!link.isEmpty()) {
        const QByteArray linkName = QFile::encodeName(link);
        const QFileInfo existing(link);
        if (existing.isSymLink())
            ::unlink(linkName.constData());
        if (::symlink(name, linkName.constData()) != 0)
            return fail(QStringLiteral("cannot make the link %1").arg(link));
        linkPath = link;
    }
    return true;
}

int StationPort::read(char *buffer, int size)
{
    const ssize_t count = ::read(portFd, buffer, size_t(size));
    if (count >= 0)
        return int(count);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    fail(QStringLiteral("cannot read %1").arg(portPath));
    return -1;
}

bool StationPort::writeByte(char byte)
{
    for (;;) {
        const ssize_t count = ::write(portFd, &byte, 1);
        if (count == 1)
            return true;
        if (count < 0 && errno == EINTR)
            continue;
        return fail(QStringLiteral("cannot write to %1").arg(portPath));
    }
}
