#include "tcpline.h"

#include "boundedcall.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A connection whose peer vanished without a word (a pulled cable, a
// crashed machine) is found out within about half a minute even while no
// line is written.
constexpr int kKeepaliveIdleSeconds = 10;
constexpr int kKeepaliveIntervalSeconds = 5;
constexpr int kKeepaliveProbes = 3;

bool setOption(int fd, int level, int name, int value)
{
    return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

void setKeepalive(int fd)
{
    setOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    setOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepaliveIdleSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepaliveIntervalSeconds);
    setOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepaliveProbes);
#endif
}

// A reset or a closed pipe: the other side is gone.
bool meansPeerGone(int code)
{
    return code == ECONNRESET || code == EPIPE || code == ENOTCONN || code == ETIMEDOUT
           || code == EHOSTUNREACH || code == ENETUNREACH || code == ECONNABORTED;
}

} // namespace

struct TcpLine::Platform
{
    int fd = -1;
};

TcpLine::TcpLine() : platform(std::make_unique<Platform>()) {}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::isOpen() const
{
    return platform->fd >= 0;
}

std::string TcpLine::systemMessage(int systemCode)
{
    return std::strerror(systemCode);
}

bool TcpLine::connectTo(const std::string &host, unsigned short port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_ADDRCONFIG;
    struct LookUp
    {
        int resolved = EAI_FAIL;
        int code = 0;
        addrinfo *found = nullptr;
    };
    const std::string service = std::to_string(port);
    LookUp lookUp;
    const bool inTime = runWithin<LookUp>(
        kLookUpLimitMs,
        [host, service, hints] {
            LookUp made;
            made.resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &made.found);
            made.code = made.resolved == EAI_SYSTEM ? errno : 0;
            return made;
        },
        [](LookUp &late) {
            if (late.resolved == 0)
                ::freeaddrinfo(late.found);
        },
        &lookUp);
    if (!inTime) {
        failWith(SerialPortError::NoSuchPort, "cannot resolve " + host + ": no answer within "
                                                  + std::to_string(kLookUpLimitMs / 1000) + " s");
        return false;
    }
    addrinfo *found = lookUp.found;
    const int resolved = lookUp.resolved;
    if (resolved != 0) {
        const int code = lookUp.code;
        failWith(SerialPortError::NoSuchPort, std::string("cannot resolve ") + host + ": "
                                                  + (code != 0 ? systemMessage(code) : ::gai_strerror(resolved)));
        return false;
    }

    // One time limit for all of the host's addresses together.
    const Clock::time_point deadline = Clock::now() + Milliseconds(kConnectLimitMs);
    int lastCode = ETIMEDOUT;
    for (addrinfo *entry = found; entry; entry = entry->ai_next) {
        const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                entry->ai_protocol);
        if (fd < 0) {
            lastCode = errno;
            continue;
        }
        int code = 0;
        if (::connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
            code = errno;
            if (code == EINPROGRESS || code == EINTR) {
                pollfd waiting{fd, POLLOUT, 0};
                int count = 0;
                do
                    count = ::poll(&waiting, 1, static_cast<int>(std::min<unsigned>(msUntil(deadline), INT_MAX)));
                while (count < 0 && errno == EINTR);
                socklen_t length = sizeof code;
                if (count == 0)
                    code = ETIMEDOUT;
                else if (count < 0 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
                    code = errno;
            }
        }
        if (code == 0) {
            setOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
            setKeepalive(fd);
            platform->fd = fd;
            ::freeaddrinfo(found);
            return true;
        }
        ::close(fd);
        lastCode = code;
        if (Clock::now() >= deadline)
            break;
    }
    ::freeaddrinfo(found);
    failWithSystem(SerialPortError::Other, lastCode);
    return false;
}

long TcpLine::sendAvailable(const char *data, std::size_t size)
{
    for (;;) {
        const ssize_t count = ::send(platform->fd, data, size, MSG_NOSIGNAL);
        if (count > 0)
            return static_cast<long>(count);
        const int code = count < 0 ? errno : EPIPE;
        if (code != EINTR)
            return transferFailed(code);
    }
}

long TcpLine::transferFailed(int code)
{
    if (code == EAGAIN || code == EWOULDBLOCK)
        return 0;
    if (meansPeerGone(code))
        peerClosed(code);
    else
        failWithSystem(SerialPortError::Other, code);
    return -1;
}

int TcpLine::waitOnce(bool forWrite, unsigned waitMs)
{
    pollfd waiting{platform->fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int count = ::poll(&waiting, 1, static_cast<int>(std::min<unsigned>(waitMs, INT_MAX)));
    if (count > 0)
        return 1; // ready, closed or failed: the read or write tells which
    if (count == 0 || errno == EINTR)
        return 0;
    failWithSystem(SerialPortError::Other, errno);
    return -1;
}

long TcpLine::readAvailable(char *buffer, std::size_t capacity)
{
    for (;;) {
        const ssize_t count = ::recv(platform->fd, buffer, capacity, MSG_DONTWAIT);
        if (count > 0)
            return static_cast<long>(count);
        if (count == 0) {
            peerClosed(0);
            return -1;
        }
        const int code = errno;
        if (code != EINTR)
            return transferFailed(code);
    }
}

void TcpLine::close()
{
    if (platform->fd >= 0) {
        ::close(platform->fd);
        platform->fd = -1;
    }
    gone = false;
}
