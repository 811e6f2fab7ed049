#ifndef VELMORARECEIVERREPORT_H
#define VELMORARECEIVERREPORT_H

#include "svelmoralogline.h"

#include <QString>
#include <QVector>

struct SVelmoraFrameOutcome;

// The network receiver's log lines, made from what happened: the texts of
// the listener, the connections and the frames are all here. The window's
// copies are translated in the context VelmoraNetworkServer.
class VelmoraReceiverReport
{
public:
    // Every line of the network receiver starts with "[net]".
    static constexpr char kTag[] = "net";

    // Both copies from the English templates, the window's translated in
    // the receiver's context.
    static SVelmoraLogLine make(const char *screenTemplate, SVelmoraLogLine::Screen screen,
                                const char *fileTemplate, int fileLevel, const QStringList &args);
    // Both copies of a template with the tag as %1 and args from %2 on; the
    // window's copy translated.
    static SVelmoraLogLine tagged(const char *text, int fileLevel, QStringList args);

    // The lines one decoded frame gives, in the order they are written.
    static QVector<SVelmoraLogLine> frameLines(const SVelmoraFrameOutcome &outcome, const QString &peerAddress,
                                               quint16 peerPort);
    // The day log line of every read: "[net] Received packet from ..." with
    // the bytes in hex. Not shown in the window.
    static QString receivedPacket(const QString &peerAddress, quint16 peerPort, const char *bytes, int length);

    static SVelmoraLogLine listening(const QString &address, int port);
    static SVelmoraLogLine unableToListen(const QString &address, int port);
    static SVelmoraLogLine refusing(const QString &address, int port, const QString &reason, int count);
    static SVelmoraLogLine acceptingAgain(const QString &address, int port, int count);
    static SVelmoraLogLine accepted(const QString &peerAddress, quint16 peerPort, int count);
    static SVelmoraLogLine cannotSendMacRequest(const QString &peerAddress, quint16 peerPort);
    static SVelmoraLogLine disconnected(const QString &peerAddress, quint16 peerPort, int count);
    // Reads of bytes that held no frame, counted instead of logged one by one.
    static SVelmoraLogLine noiseLeftOut(const QString &peerAddress, quint16 peerPort, int reads, qint64 bytes);
    static SVelmoraLogLine closing(int count);
    static SVelmoraLogLine stopped();
    static SVelmoraLogLine halfFrameExpired(const QString &peerAddress, quint16 peerPort, int timeoutMs,
                                            const QByteArray &bytes);
    static SVelmoraLogLine notJournaled(const QString &peerAddress, quint16 peerPort, int count,
                                        const QString &reason);
};

#endif // VELMORARECEIVERREPORT_H
