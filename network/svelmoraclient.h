#ifndef SVELMORACLIENT_H
#define SVELMORACLIENT_H

#include "velmoraframe.h"
#include "velmorareceivebuffer.h"

#include <QString>

class QTcpSocket;

// The network server's record of one device connection.
struct SVelmoraClient
{
    QTcpSocket *socket = nullptr;
    // Zero until the device has answered the MAC request; the XOR key.
    VelmoraFrame::Mac mac{};
    // From the latest frame; ACKs carry it back.
    VelmoraFrame::DeviceId id{};
    // Taken at accept time: a socket forgets its peer once it has disconnected.
    QString peerAddress;
    quint16 peerPort = 0;
    VelmoraReceiveBuffer receiveBuffer;
};

#endif // SVELMORACLIENT_H
