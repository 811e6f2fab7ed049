#ifndef VELMORARECEIVEPASS_H
#define VELMORARECEIVEPASS_H

#include "svelmoraframeoutcome.h"
#include "svelmoralogline.h"
#include "svelmoramsg.h"
#include "velmorabacklogguard.h"
#include "velmoranoiselimiter.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <cstdint>

class DeviceSocket;
class QDateTime;
struct SVelmoraClient;
class VelmoraClock;
class VelmoraDeviceSupervisor;
class VelmoraEventStore;
class VelmoraTimer;

// The work of one pass of the network thread's event loop over the devices
// that sent something: each read is decoded as it comes; once every device
// has been read, the pass's events are admitted against the backlog limits
// and journaled in one durable write, the replies go out, the events are
// handed over in one signal, and the log lines are written.
class VelmoraReceivePass : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraReceivePass(VelmoraClock &clock, QObject *parent = nullptr);

    void setReporter(SVelmoraLogLine::Sink sink);
    // Events are made durable here before the device gets its ACK. Null:
    // events are acknowledged without being journaled.
    void setEventStore(VelmoraEventStore *store);
    // Asked whether each device may report, and told which were heard.
    // Null: every device reports and none is supervised.
    void setDeviceSupervisor(VelmoraDeviceSupervisor *supervisor);
    // How much may wait for the serial line before new events get no ACK.
    void setBacklogLimits(const VelmoraBacklogGuard::Limits &limits);

    // Decodes one read of the client's socket; what it asks for is done when
    // the pass finishes. receivedLine is the read's day log line. True when
    // the read completed a frame or dropped bytes.
    bool add(SVelmoraClient &client, DeviceSocket *socket, const char *bytes, int length,
             const QDateTime &receivedAt, const QString &receivedLine);

    // Finishes the pass now; runs by itself once the event loop has read
    // every device.
    void finish();

    // Events the receiver made itself (a device's absence): journaled and
    // handed over at once, in a signal of their own. False, with the
    // journal's reason, when they could not be journaled.
    bool handOverReceiverEvents(QVector<SVelmoraMsg> &events, QString *reason);

signals:
    // The events of the pass that were journaled (or, without an event
    // store, acknowledged), in the order they came.
    void eventsSignal(QVector<SVelmoraMsg> events);
    // A device that may not report sent on this connection; it is closed.
    void connectionRefused(DeviceSocket *socket);

private:
    // The outcomes of one read, waiting for the journal.
    struct DecodedRead
    {
        QPointer<DeviceSocket> socket;
        QString peerAddress;
        quint16 peerPort = 0;
        // The day log line of the whole read, written with the read's
        // other lines once the pass's replies are out.
        QString receivedLine;
        QVector<SVelmoraFrameOutcome> outcomes;
        // False for a read in the middle of a burst of bytes that are no
        // frame: its lines are counted, not written.
        bool logged = true;
        // A burst's count of reads and bytes not written, due now.
        VelmoraNoiseLimiter::Decision leftOut;
        // When the read was taken, for the ACK latency metric.
        std::int64_t readAtUs = 0;
        // The devices whose frames were admitted, and whether one was
        // refused (then the read's later frames are too).
        QVector<QString> admittedDevices;
        bool refused = false;
    };

    void admitFrames(const SVelmoraClient &client, DecodedRead &read);
    // leading: the receiver's restores, journaled before the frames' events
    // and not held to the backlog limits.
    bool journalEvents(QVector<DecodedRead> &reads, QVector<SVelmoraMsg> &leading);
    void recheckBacklog();
    // The frames of one read in the metrics.
    static void countFrames(const QVector<SVelmoraFrameOutcome> &outcomes);

    VelmoraClock &clock;
    SVelmoraLogLine::Sink report;
    VelmoraEventStore *eventStore = nullptr;
    VelmoraDeviceSupervisor *supervisor = nullptr;
    QVector<DecodedRead> decodedReads;
    bool finishScheduled = false;
    VelmoraBacklogGuard backlogGuard;
    // Runs while a backlog limit is in force, to report it left.
    VelmoraTimer *backlogTimer = nullptr;
};

#endif // VELMORARECEIVEPASS_H
