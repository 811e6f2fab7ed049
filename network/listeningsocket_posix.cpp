#include "listeningsocket.h"

#include "socketio.h"

#include <QHostAddress>

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The kernel caps the backlog at its own maximum (net.core.somaxconn on
// Linux) without an error, so asking for the most gives exactly that.
constexpr int kLargestBacklog = INT_MAX;

QString systemReason()
{
    return SocketIo::errorText(errno);
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
    const int descriptor = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        *error = systemReason();
        return -1;
    }
    // As QTcpServer does: a restart may bind the port again at once, while
    // connections of the previous listener are still in TIME_WAIT.
    const int on = 1;
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(port);
    bound.sin_addr.s_addr = htonl(ipv4);
    if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0
        || ::bind(descriptor, reinterpret_cast<const sockaddr *>(&bound), sizeof bound) != 0
        || ::listen(descriptor, kLargestBacklog) != 0) {
        *error = systemReason();
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

void ListeningSocket::close(qintptr descriptor)
{
    if (descriptor >= 0)
        ::close(int(descriptor));
}
