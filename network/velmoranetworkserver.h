#ifndef VELMORANETWORKSERVER_H
#define VELMORANETWORKSERVER_H

#include "svelmoradevicesnapshot.h"
#include "svelmoramsg.h"
#include "velmorabacklogguard.h"
#include "velmoradeparteddevices.h"
#include "velmoranoiselimiter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVector>

#include <atomic>
#include <cstdint>

class DeviceSocket;
class QSocketNotifier;
class QTimer;
struct SVelmoraClient;
struct SVelmoraFrameOutcome;
struct SVelmoraLogLine;
class VelmoraEventStore;

// Listens for the devices, keeps one record per connection and applies what
// the packet decoder makes of their bytes. Lives in the network thread; all
// its slots run there.
class VelmoraNetworkServer : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraNetworkServer(QObject *parent = nullptr);
    ~VelmoraNetworkServer() override;

    // May be called from any thread; the next startSlot uses the values.
    void setListenAddress(const QString &address, int port);

    // Events are made durable here before the device gets its ACK. Null:
    // events are acknowledged without being journaled. Set before start.
    void setEventStore(VelmoraEventStore *store);

    // How much may wait for the serial line before new events get no ACK.
    // Set before start.
    void setBacklogLimits(const VelmoraBacklogGuard::Limits &limits);

    // Open connections; safe to read from any thread.
    int connectionCount() const;

    // How long the start of a frame may wait for the rest before it is
    // dropped, so that the device's next frame is read on its own.
    static constexpr int kDefaultHalfFrameTimeoutMs = 30000;
    void setHalfFrameTimeout(int milliseconds);

    // How long accepting pauses when the process has no descriptor left.
    static constexpr int kDefaultAcceptPauseMs = 500;
    void setAcceptPause(int milliseconds);

    // The most connections served at once (0: no limit). Beyond it new
    // devices wait in the listener's queue until one leaves, so that the
    // process keeps descriptors for its own files: the day log, the
    // journal, the serial port.
    void setConnectionLimit(int limit);

    // Handles one read from the socket: every complete frame it finishes.
    // 1 when at least one frame was handled, -1 otherwise. The replies,
    // lines and events go out when this pass of the event loop has read
    // every device that sent something, so that one durable write (with an
    // event store) and one write of the day log cover them all.
    int parsePacket(const char *bytes, int length, DeviceSocket *socket);

    // The devices connected now and those that left lately, copied from the
    // records. Network thread only; its cost grows with the number of
    // devices, so it is made only when asked for.
    SVelmoraDeviceSnapshot deviceSnapshot();
    // How long, and how many, connections that ended are kept for it.
    void setDepartedLimits(qint64 maxAgeMs, int maxCount);

    // Writes the MAC request; what the system does not take at once goes
    // out as the device reads. -1 without a socket or when the connection
    // has failed, 1 otherwise.
    static int sendMacRequest(DeviceSocket *socket);

signals:
    void logSignal(QString line);
    void msgSignal(SVelmoraMsg msg);
    // The answer to deviceSnapshotSlot.
    void deviceSnapshotSignal(SVelmoraDeviceSnapshot snapshot);

public slots:
    void acceptConnectionSlot();
    void readyRead();
    void disconnectSlot();
    void startSlot();
    void stopSlot();
    // Emits deviceSnapshotSignal with a fresh snapshot.
    void deviceSnapshotSlot();

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
        // For the ACK latency metric.
        std::int64_t readAtUs = 0;
    };

    void readFrom(DeviceSocket *socket);
    void removeClient(DeviceSocket *socket);
    void applyDecodedReads();
    void report(const SVelmoraLogLine &line);
    void report(const char *text, int fileLevel, const QStringList &args);
    SVelmoraClient *findClient(const DeviceSocket *socket) const;
    // Now, in local time; cheaper than QDateTime::currentDateTime.
    QDateTime localNow();
    bool journalEvents(QVector<DecodedRead> &reads);
    static SVelmoraFrameOutcome noiseLeftOutOutcome(const SVelmoraClient &client,
                                                    const VelmoraNoiseLimiter::Decision &decision);
    void recheckBacklog();
    void publishCount();
    void resumeAccepting();
    void closeListener();
    void trackHalfFrame(SVelmoraClient *client, bool frameTaken);
    void expireHalfFrames();
    void dropHalfFrame(SVelmoraClient *client);
    QStringList listenArgs() const;
    static SVelmoraDeviceRow rowOf(const SVelmoraClient &client);

    qintptr listenDescriptor = -1;
    QSocketNotifier *listenNotifier = nullptr;
    // One device's bytes at a time are read into this; no connection keeps
    // a buffer of its own.
    QByteArray readBuffer;
    // Owned: each record is freed when its connection is removed. Keyed by
    // socket, so that a read or a hang-up finds its record at once however
    // many devices are connected; each record carries its place in the
    // order of acceptance.
    QHash<const DeviceSocket *, SVelmoraClient *> clients;
    quint64 acceptedSoFar = 0;
    QString address;
    int port = 0;
    // Guards clients in stopSlot and disconnectSlot.
    QMutex mutex;
    // Guards the listen address handed over from the thread object.
    mutable QMutex listenMutex;
    QString requestedAddress;
    int requestedPort = 0;
    VelmoraEventStore *eventStore = nullptr;
    QVector<DecodedRead> decodedReads;
    QString currentReceivedLine;
    bool applyScheduled = false;
    VelmoraBacklogGuard backlogGuard;
    // Runs while a backlog limit is in force, to report it left.
    QTimer *backlogTimer = nullptr;
    std::atomic<int> clientCount{0};

    // Connections holding the start of a frame, checked by halfFrameTimer.
    QSet<SVelmoraClient *> halfFrames;
    QTimer *halfFrameTimer = nullptr;
    int halfFrameTimeoutMs = kDefaultHalfFrameTimeoutMs;
    QElapsedTimer clock;
    // localNow's offset from UTC and the second it was asked for.
    qint64 offsetSecond = -1;
    int utcOffsetSeconds = 0;

    // While the process has no descriptor for a new connection, the
    // listener rests for acceptPauseMs at a time instead of being woken
    // again at once by the connection still waiting.
    QTimer *acceptPauseTimer = nullptr;
    int acceptPauseMs = kDefaultAcceptPauseMs;
    bool refusing = false;
    int connectionLimit = 0;
    // Refusing because the connection limit is reached: a device leaving
    // ends it, not the pause timer.
    bool atConnectionLimit = false;
    void refuseConnections(const QString &reason);

    VelmoraDepartedDevices departedDevices;
};

#endif // VELMORANETWORKSERVER_H
