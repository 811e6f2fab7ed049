#include "listeningsocket.h"

#include "socketio.h"

#include <QHostAddress>

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

QString systemReason()
{
    return SocketIo::errorText(WSAGetLastError());
}

} // namespace

qintptr ListeningSocket::open(const QString &address, quint16 port, QString *error)
{
    bool isIpv4 = false;
    const quint32 ipv4 = QHostAddress(address).toIPv4Address(&isIpv4);
    if (!isIpv4) {
        *error = QStringLiteral("not an IPv4 address");
        return -1;
    }
    // Reference-counted; the toolkit makes the same call for its own sockets.
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        *error = systemReason();
        return -1;
    }
    const SOCKET descriptor = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                         WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (descriptor == INVALID_SOCKET) {
        *error = systemReason();
        return -1;
    }
    // No call on it may wait: connections are taken while they come.
    u_long nonBlocking = 1;
    // As QTcpServer does on Windows: no other program may bind the port too.
    const BOOL on = TRUE;
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr.s_addr = htonl(ipv4);
    // SOMAXCONN here means "the largest backlog the provider allows".
    if (ioctlsocket(descriptor, FIONBIO, &nonBlocking) != 0
        || setsockopt(descriptor, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on), sizeof on) != 0
        || bind(descriptor, reinterpret_cast<const sockaddr *>(&bound), sizeof bound) != 0
        || listen(descriptor, SOMAXCONN) != 0) {
        *error = systemReason();
        closesocket(descriptor);
        return -1;
    }
    return qintptr(descriptor);
}

void ListeningSocket::close(qintptr descriptor)
{
    if (descriptor >= 0)
        closesocket(SOCKET(descriptor));
}
