#ifndef LISTENINGSOCKET_H
#define LISTENINGSOCKET_H

#include <QString>
#include <QtGlobal>

// The receiver's listening socket, made here rather than by QTcpServer: the
// toolkit listens with a backlog of 50, and when every device reconnects at
// once after an outage the connections beyond it wait in silence, because
// the receiver speaks first. This one listens with the largest backlog the
// system allows. It is non-blocking.
// One implementation per platform.
class ListeningSocket
{
public:
    // A socket bound to the IPv4 address and port and listening, or -1 with
    // the system's reason in *error.
    static qintptr open(const QString &address, quint16 port, QString *error);

    // Closes a listening socket.
    static void close(qintptr descriptor);
};

#endif // LISTENINGSOCKET_H
