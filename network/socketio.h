#ifndef SOCKETIO_H
#define SOCKETIO_H

#include <QString>
#include <QtGlobal>

class QHostAddress;

// The few system calls the receiver makes on its sockets itself, one
// implementation per platform (POSIX sockets, Winsock). Every descriptor
// here is non-blocking: no call waits.
namespace SocketIo {

enum class Status {
    Done,       // bytes moved (or a connection taken)
    WouldBlock, // nothing to do now; the socket's notifier tells when
    Closed,     // the peer has hung up (receive only)
    Failed,     // the system's error is in Result::error
};

struct Result
{
    Status status = Status::Failed;
    qint64 bytes = 0;
    int error = 0;
};

// The next connection waiting on a listening socket, non-blocking and with
// keep-alive on, in *descriptor.
Result accept(qintptr listener, qintptr *descriptor);

Result receive(qintptr descriptor, char *buffer, qint64 capacity);

// Never raises a signal for a connection the peer has closed.
Result send(qintptr descriptor, const char *bytes, qint64 length);

void close(qintptr descriptor);

// The connection's other end; false when the system no longer knows it.
bool peer(qintptr descriptor, QHostAddress *address, quint16 *port);

// Whether accepting failed for want of descriptors or memory, which only
// another connection's leaving or time can mend.
bool isOutOfResources(int error);

// The system's text for an error code.
QString errorText(int error);

} // namespace SocketIo

#endif // SOCKETIO_H
