#include "stationport.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <csignal>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pty.h>
#include <sys/socket.h>
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

struct StationPort::Platform
{
    int portFd = -1;
    // The station keeps the slave open as well, so that the master does not
    // see a hang-up each time the converter closes and reopens its port.
    int slaveFd = -1;
    int listenFd = -1;
    QString linkPath;
};

StationPort::StationPort() : platform(std::make_unique<Platform>()) {}

StationPort::~StationPort()
{
    if (!platform->linkPath.isEmpty())
        ::unlink(QFile::encodeName(platform->linkPath).constData());
    if (platform->slaveFd >= 0)
        ::close(platform->slaveFd);
    if (platform->portFd >= 0)
        ::close(platform->portFd);
    if (platform->listenFd >= 0)
        ::close(platform->listenFd);
}

bool StationPort::hasPseudoTerminals()
{
    return true;
}

bool StationPort::isListening() const
{
    return platform->listenFd >= 0;
}

qintptr StationPort::listeningSocket() const
{
    return platform->listenFd;
}

bool StationPort::hasConnection() const
{
    return platform->portFd >= 0;
}

qintptr StationPort::readNotifierHandle() const
{
    return platform->portFd;
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
    platform->portFd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (platform->portFd < 0)
        return fail(QStringLiteral("cannot open %1").arg(path));
    termios settings{};
    if (tcgetattr(platform->portFd, &settings) != 0)
        return fail(QStringLiteral("cannot read the settings of %1").arg(path));
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~(CSTOPB | PARENB);
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (tcsetattr(platform->portFd, TCSANOW, &settings) != 0)
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
    if (::openpty(&platform->portFd, &platform->slaveFd, name, &raw, nullptr) != 0)
        return fail(QStringLiteral("cannot create a pseudo-terminal"));
    if (!makeNonBlocking(platform->portFd))
        return fail(QStringLiteral("cannot make the pseudo-terminal non-blocking"));
    ::fcntl(platform->portFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(platform->slaveFd, F_SETFD, FD_CLOEXEC);
    portPath = QString::fromLocal8Bit(name);
    if (!link.isEmpty()) {
        const QByteArray linkName = QFile::encodeName(link);
        const QFileInfo existing(link);
        if (existing.isSymLink())
            ::unlink(linkName.constData());
        if (::symlink(name, linkName.constData()) != 0)
            return fail(QStringLiteral("cannot make the link %1").arg(link));
        platform->linkPath = link;
    }
    return true;
}

bool StationPort::listenTcp(quint16 port)
{
    // A converter that closes while an answer is on its way must not end
    // the station.
    std::signal(SIGPIPE, SIG_IGN);
    platform->listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (platform->listenFd < 0)
        return fail(QStringLiteral("cannot create a socket"));
    const int on = 1;
    ::setsockopt(platform->listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(platform->listenFd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return fail(QStringLiteral("cannot listen on port %1").arg(port));
    if (::listen(platform->listenFd, 4) != 0)
        return fail(QStringLiteral("cannot listen on port %1").arg(port));
    socklen_t length = sizeof address;
    if (::getsockname(platform->listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail(QStringLiteral("cannot read the listening port"));
    tcpPort = ntohs(address.sin_port);
    portPath = QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort);
    return true;
}

bool StationPort::acceptConnection(QString *peer)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const int fd = ::accept4(platform->listenFd, reinterpret_cast<sockaddr *>(&address), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return fail(QStringLiteral("cannot accept a connection"));
    closeConnection();
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    platform->portFd = fd;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    *peer = QStringLiteral("%1:%2").arg(QString::fromLatin1(text)).arg(ntohs(address.sin_port));
    return true;
}

void StationPort::closeConnection()
{
    if (isListening() && platform->portFd >= 0) {
        ::close(platform->portFd);
        platform->portFd = -1;
    }
}

int StationPort::read(char *buffer, int size)
{
    const ssize_t count = ::read(platform->portFd, buffer, size_t(size));
    if (count == 0 && isListening())
        return kClosed;
    if (count >= 0)
        return int(count);
    if (isListening() && (errno == ECONNRESET || errno == ETIMEDOUT))
        return kClosed;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return 0;
    fail(QStringLiteral("cannot read %1").arg(portPath));
    return -1;
}

bool StationPort::writeByte(char byte)
{
    for (;;) {
        const ssize_t count = ::write(platform->portFd, &byte, 1);
        if (count == 1)
            return true;
        if (count < 0 && errno == EINTR)
            continue;
        return fail(QStringLiteral("cannot write to %1").arg(portPath));
    }
}
