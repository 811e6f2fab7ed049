#ifndef VELMORAPACKETDECODER_H
#define VELMORAPACKETDECODER_H

#include "svelmoraframeoutcome.h"

#include <QVector>

class QDateTime;
struct SVelmoraClient;

// Turns the bytes received on one connection into facts, without I/O: the
// server acts on them and makes its log lines of them (VelmoraReceiverReport),
// the tests and the fuzz target inspect them. The client's mac, id and
// receive buffer are updated as the frames are read.
class VelmoraPacketDecoder
{
public:
    // One read from the socket: appended to the client's receive buffer, and
    // every complete frame in it is decoded, in order. A frame not yet
    // complete waits in the buffer for the next read.
    static QVector<SVelmoraFrameOutcome> decodeRead(SVelmoraClient &client, const char *bytes,
                                                    int length, const QDateTime &receivedAt);

    // One whole frame as the receive buffer hands it over.
    // An event on the device's own account, group 00, zone 000, as the
    // receiver makes them: the periodic test, and the supervision's
    // absence and restore.
    static SVelmoraMsg deviceAccountEvent(const QString &deviceId, const QString &eventCode, const QDateTime &at);

    static SVelmoraFrameOutcome decodeFrame(SVelmoraClient &client, const QByteArray &frame,
                                            const QDateTime &receivedAt);
};

#endif // VELMORAPACKETDECODER_H
