#include "tcpline.h"

#include "boundedcall.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
#include <windows.h>

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A connection whose peer vanished without a word is found out within about
// half a minute even while no line is written.
constexpr ULONG kKeepaliveIdleMs = 10000;
constexpr ULONG kKeepaliveIntervalMs = 5000;

timeval timevalFor(long ms)
{
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = (ms % 1000) * 1000;
    return value;
}

// Winsock is started once for the process and left running.
bool startWinsock()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void setKeepalive(SOCKET fd)
{
    BOOL on = TRUE;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on);
    tcp_keepalive times{};
    times.onoff = 1;
    times.keepalivetime = kKeepaliveIdleMs;
    times.keepaliveinterval = kKeepaliveIntervalMs;
    DWORD returned = 0;
    ::WSAIoctl(fd, SIO_KEEPALIVE_VALS, &times, sizeof times, nullptr, 0, &returned, nullptr, nullptr);
}

bool meansPeerGone(int code)
{
    return code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAENOTCONN || code == WSAESHUTDOWN
           || code == WSAETIMEDOUT || code == WSAENETRESET || code == WSAEHOSTUNREACH || code == WSAENETUNREACH;
}

// Waits until the socket can be written or read (or failed): the count
// select gives, -1 on failure.
int selectFor(SOCKET fd, bool forWrite, long waitMs, bool *failed)
{
    fd_set wanted;
    fd_set failures;
    FD_ZERO(&wanted);
    FD_ZERO(&failures);
    FD_SET(fd, &wanted);
    FD_SET(fd, &failures);
    timeval wait = timevalFor(waitMs);
    const int count = ::select(0, forWrite ? nullptr : &wanted, forWrite ? &wanted : nullptr, &failures, &wait);
    if (failed)
        *failed = count > 0 && FD_ISSET(fd, &failures);
    return count;
}

} // namespace

struct TcpLine::Platform
{
    SOCKET fd = INVALID_SOCKET;
};

TcpLine::TcpLine() : platform(std::make_unique<Platform>()) {}

TcpLine::~TcpLine()
{
    close();
}

bool TcpLine::isOpen() const
{
    return platform->fd != INVALID_SOCKET;
}

std::string TcpLine::systemMessage(int systemCode)
{
    char *buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(systemCode), 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string message = length > 0 && buffer ? std::string(buffer, length) : std::string();
    LocalFree(buffer);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

bool TcpLine::connectTo(const std::string &host, unsigned short port)
{
    if (!startWinsock()) {
        failWith(SerialPortError::Other, "Windows sockets could not be started");
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    struct LookUp
    {
        int resolved = WSAHOST_NOT_FOUND;
        addrinfo *found = nullptr;
    };
    const std::string service = std::to_string(port);
    LookUp lookUp;
    const bool inTime = runWithin<LookUp>(
        kLookUpLimitMs,
        [host, service, hints] {
            LookUp made;
            made.resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &made.found);
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
        failWith(SerialPortError::NoSuchPort, "cannot resolve " + host + ": " + systemMessage(resolved));
        return false;
    }

    const Clock::time_point deadline = Clock::now() + Milliseconds(kConnectLimitMs);
    int lastCode = WSAETIMEDOUT;
    for (addrinfo *entry = found; entry; entry = entry->ai_next) {
        const SOCKET fd = ::socket(entry->ai_family, entry->ai_socktype, entry->ai_protocol);
        if (fd == INVALID_SOCKET) {
            lastCode = WSAGetLastError();
            continue;
        }
        u_long nonBlocking = 1;
        int code = 0;
        if (::ioctlsocket(fd, FIONBIO, &nonBlocking) != 0)
            code = WSAGetLastError();
        else if (::connect(fd, entry->ai_addr, static_cast<int>(entry->ai_addrlen)) != 0) {
            code = WSAGetLastError();
            if (code == WSAEWOULDBLOCK) {
                bool failed = false;
                const int count = selectFor(fd, true, static_cast<long>(msUntil(deadline)), &failed);
                int length = sizeof code;
                if (count == 0)
                    code = WSAETIMEDOUT;
                else if (count < 0
                         || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&code), &length) != 0)
                    code = WSAGetLastError();
                else if (failed && code == 0)
                    code = WSAECONNREFUSED;
            }
        }
        if (code == 0) {
            BOOL on = TRUE;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
            setKeepalive(fd);
            platform->fd = fd;
            ::freeaddrinfo(found);
            return true;
        }
        ::closesocket(fd);
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
    const int chunk = static_cast<int>(size > 65536 ? 65536 : size);
    const int count = ::send(platform->fd, data, chunk, 0);
    if (count > 0)
        return count;
    return transferFailed(count < 0 ? WSAGetLastError() : WSAECONNRESET);
}

long TcpLine::transferFailed(int code)
{
    if (code == WSAEWOULDBLOCK)
        return 0;
    if (meansPeerGone(code))
        peerClosed(code);
    else
        failWithSystem(SerialPortError::Other, code);
    return -1;
}

int TcpLine::waitOnce(bool forWrite, unsigned waitMs)
{
    const int count = selectFor(platform->fd, forWrite, static_cast<long>(waitMs), nullptr);
    if (count > 0)
        return 1; // ready, closed or failed: the read or write tells which
    if (count == 0)
        return 0;
    failWithSystem(SerialPortError::Other, WSAGetLastError());
    return -1;
}

long TcpLine::readAvailable(char *buffer, std::size_t capacity)
{
    // The socket is non-blocking: recv takes only what is there.
    const int asked = static_cast<int>(capacity > 65536 ? 65536 : capacity);
    const int count = ::recv(platform->fd, buffer, asked, 0);
    if (count > 0)
        return count;
    if (count == 0) {
        peerClosed(0);
        return -1;
    }
    return transferFailed(WSAGetLastError());
}

void TcpLine::close()
{
    if (platform->fd != INVALID_SOCKET) {
        ::closesocket(platform->fd);
        platform->fd = INVALID_SOCKET;
    }
    gone = false;
}
