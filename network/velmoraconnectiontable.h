#ifndef VELMORACONNECTIONTABLE_H
#define VELMORACONNECTIONTABLE_H

#include "svelmoraclient.h"
#include "svelmoralogline.h"

#include <QObject>
#include <QSet>
#include <QVector>

#include <atomic>
#include <memory>
#include <unordered_map>
#include <vector>

class DeviceSocket;
class VelmoraClock;
class VelmoraTimer;

// The one owner of the records of the open device connections, in the
// network thread: a record lives from its connection's accept to its end.
// Keyed by socket, so that a read or a hang-up finds its record at once
// however many devices are connected. It also keeps the connections whose
// receive buffer holds the start of a frame, and drops such a start once
// it has waited the half-frame time-out, so that the device's next frame
// is read on its own.
class VelmoraConnectionTable : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraConnectionTable(VelmoraClock &clock, QObject *parent = nullptr);
    ~VelmoraConnectionTable() override;

    void setReporter(SVelmoraLogLine::Sink sink);

    // A new record for the socket, placed after all earlier ones.
    SVelmoraClient &add(DeviceSocket *socket);
    SVelmoraClient *find(const DeviceSocket *socket) const;
    // The record, taken out of the table; null when there is none.
    std::unique_ptr<SVelmoraClient> take(const DeviceSocket *socket);
    // Every record, taken out, in the order the connections were accepted.
    std::vector<std::unique_ptr<SVelmoraClient>> takeAll();
    QVector<const SVelmoraClient *> inAcceptedOrder() const;
    int size() const { return int(clients.size()); }
    // The same as size(), readable from any thread.
    int publishedCount() const { return count.load(); }

    static constexpr int kDefaultHalfFrameTimeoutMs = 30000;
    void setHalfFrameTimeout(int milliseconds);
    // Before a read is joined to what waits: a start of a frame that has
    // waited too long is dropped, the device has given it up.
    void dropStaleHalfFrame(SVelmoraClient &client);
    // After a read: the time of the start of a frame left waiting.
    void noteRead(SVelmoraClient &client, bool frameTaken);

private:
    void expireHalfFrames();
    void dropHalfFrame(SVelmoraClient *client);
    void publishCount();

    VelmoraClock &clock;
    SVelmoraLogLine::Sink report;
    std::unordered_map<const DeviceSocket *, std::unique_ptr<SVelmoraClient>> clients;
    quint64 acceptedSoFar = 0;
    std::atomic<int> count{0};

    QSet<SVelmoraClient *> halfFrames;
    VelmoraTimer *halfFrameTimer = nullptr;
    int halfFrameTimeoutMs = kDefaultHalfFrameTimeoutMs;
};

#endif // VELMORACONNECTIONTABLE_H
