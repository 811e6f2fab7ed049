#include "socketio.h"

#include <QHostAddress>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

SocketIo::Result failed(int error)
{
    SocketIo::Result result;
    result.error = error;
    result.status = (error == EAGAIN || error == EWOULDBLOCK) ? SocketIo::Status::WouldBlock : SocketIo::Status::Failed;
    return result;
}

SocketIo::Result done(qint64 bytes)
{
    SocketIo::Result result;
    result.status = SocketIo::Status::Done;
    result.bytes = bytes;
    return result;
}

} // namespace

SocketIo::Result SocketIo::accept(qintptr listener, qintptr *descriptor)
{
    int accepted = -1;
    do {
        accepted = ::accept4(int(listener), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (accepted < 0 && errno == EINTR);
    if (accepted < 0)
        return failed(errno);
    const int on = 1;
    ::setsockopt(accepted, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    *descriptor = accepted;
    return done(0);
}

SocketIo::Result SocketIo::receive(qintptr descriptor, char *buffer, qint64 capacity)
{
    ssize_t got = -1;
    do {
        got = ::recv(int(descriptor), buffer, size_t(capacity), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        return failed(errno);
    if (got == 0) {
        Result closed;
        closed.status = Status::Closed;
        return closed;
    }
    return done(got);
}

SocketIo::Result SocketIo::send(qintptr descriptor, const char *bytes, qint64 length)
{
    ssize_t sent = -1;
    do {
        sent = ::send(int(descriptor), bytes, size_t(length), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? failed(errno) : done(sent);
}

void SocketIo::close(qintptr descriptor)
{
    if (descriptor >= 0)
        ::close(int(descriptor));
}

bool SocketIo::peer(qintptr descriptor, QHostAddress *address, quint16 *port)
{
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&storage), &length) != 0)
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
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

QString SocketIo::errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}
