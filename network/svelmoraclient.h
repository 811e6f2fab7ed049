#ifndef SVELMORACLIENT_H
#define SVELMORACLIENT_H

#include "velmoradeviceactivity.h"
#include "velmoraframe.h"
#include "velmoranoiselimiter.h"
#include "velmorareceivebuffer.h"

#include <QString>

class DeviceSocket;

// The record of one device connection, owned by VelmoraConnectionTable.
struct SVelmoraClient
{
    DeviceSocket *socket = nullptr;
    // Zero until the device has answered the MAC request; the XOR key.
    VelmoraFrame::Mac mac{};
    // Set once the device has answered the MAC request.
    bool macKnown = false;
    // From the latest frame; ACKs carry it back.
    VelmoraFrame::DeviceId id{};
    // Taken at accept time: the system forgets the peer once it has disconnected.
    QString peerAddress;
    quint16 peerPort = 0;
    // Position among the accepted connections; stop closes them in order.
    quint64 acceptedOrder = 0;
    VelmoraReceiveBuffer receiveBuffer;
    // When the unfinished frame in receiveBuffer began to wait, in the
    // clock's monotonic ms; 0 while nothing waits.
    qint64 halfFrameSince = 0;
    // For the devices window.
    VelmoraDeviceActivity activity;
    // Which reads of bytes that are no frame get their lines.
    VelmoraNoiseLimiter noiseLimiter;
};

#endif // SVELMORACLIENT_H
