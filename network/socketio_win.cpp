#include "socketio.h"

#include <QHostAddress>

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>

namespace {

SocketIo::Result failed(int error)
{
    SocketIo::Result result;
    result.error = error;
    result.status = error == WSAEWOULDBLOCK ? SocketIo::Status::WouldBlock : SocketIo::Status::Failed;
    return result;
}

SocketIo::Result done(qint64 bytes)
{
    SocketIo::Result result;
    result.status = SocketIo::Status::Done;
    result.bytes = bytes;
    return result;
}

int chunk(qint64 length)
{
    return int(std::min<qint64>(length, INT_MAX));
}

} // namespace

SocketIo::Result SocketIo::accept(qintptr listener, qintptr *descriptor)
{
    const SOCKET accepted = ::accept(SOCKET(listener), nullptr, nullptr);
    if (accepted == INVALID_SOCKET)
        return failed(WSAGetLastError());
    // Accepted sockets take the listener's mode, which its notifier has made
    // non-blocking; said again so as not to depend on it.
    u_long nonBlocking = 1;
    ioctlsocket(accepted, FIONBIO, &nonBlocking);
    const BOOL on = TRUE;
    setsockopt(accepted, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char *>(&on), sizeof on);
    *descriptor = qintptr(accepted);
    return done(0);
}

SocketIo::Result SocketIo::receive(qintptr descriptor, char *buffer, qint64 capacity)
{
    const int got = ::recv(SOCKET(descriptor), buffer, chunk(capacity), 0);
    if (got == SOCKET_ERROR)
        return failed(WSAGetLastError());
    if (got == 0) {
        Result closed;
        closed.status = Status::Closed;
        return closed;
    }
    return done(got);
}

SocketIo::Result SocketIo::send(qintptr descriptor, const char *bytes, qint64 length)
{
    const int sent = ::send(SOCKET(descriptor), bytes, chunk(length), 0);
    return sent == SOCKET_ERROR ? failed(WSAGetLastError()) : done(sent);
}

void SocketIo::close(qintptr descriptor)
{
    if (descriptor >= 0)
        closesocket(SOCKET(descriptor));
}

bool SocketIo::peer(qintptr descriptor, QHostAddress *address, quint16 *port)
{
    sockaddr_storage storage{};
    int length = sizeof storage;
    if (getpeername(SOCKET(descriptor), reinterpret_cast<sockaddr *>(&storage), &length) != 0)
        return false;
    address->setAddress(reinterpret_cast<const sockaddr *>(&storage));
    if (storage.ss_family == AF_INET)
        *port = ntohs(reinterpret_cast<const sockaddr_in *>(&storage)->sin_port);
    else if (storage.ss_family == AF_INET6)
        *port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&storage)->sin6_port);
    return true;
}

bool SocketIo::isOutOfResources(int error)
{
    return error == WSAEMFILE || error == WSAENOBUFS;
}

QString SocketIo::errorText(int error)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString reason = text ? QString::fromWCharArray(text).trimmed() : QString::number(error);
    LocalFree(text);
    return reason;
}
