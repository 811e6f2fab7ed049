#ifndef VELMORANETWORKSERVER_H
#define VELMORANETWORKSERVER_H

#include "svelmoradevicesnapshot.h"
#include "svelmoramsg.h"
#include "velmorabacklogguard.h"
#include "velmoraclock.h"
#include "velmoradevicesnapshots.h"
#include "velmorastampclock.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

class DeviceSocket;
struct SVelmoraLogLine;
class VelmoraConnectionAcceptor;
class VelmoraConnectionTable;
class VelmoraDeviceStore;
class VelmoraDeviceSupervisor;
class VelmoraEventStore;
class VelmoraReceivePass;

// The network receiver: listens for the devices, keeps one record per
// connection, reads what they send and hands the events on. Lives in the
// network thread; its slots run there. Made of parts with one job each:
// VelmoraConnectionAcceptor takes the connections, VelmoraConnectionTable
// holds their records, VelmoraReceivePass does the work of one pass of the
// event loop, VelmoraDeviceSnapshots copies the records for the window.
class VelmoraNetworkServer : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraNetworkServer(VelmoraClock &clock = VelmoraClock::system(), QObject *parent = nullptr);
    ~VelmoraNetworkServer() override;

    // May be called from any thread; the next startSlot uses the values.
    void setListenAddress(const QString &address, int port);

    // Set before start. Null: events are acknowledged without being
    // journaled.
    void setEventStore(VelmoraEventStore *store);
    // Set before configureDevicesSlot. Null: what is learned of the
    // devices is not kept across restarts.
    void setDeviceStore(VelmoraDeviceStore *store);
    // The operator's device list (conf/devices.csv).
    void setDeviceListPath(const QString &path);
    // Set before start.
    void setBacklogLimits(const VelmoraBacklogGuard::Limits &limits);
    void setHalfFrameTimeout(int milliseconds);
    void setAcceptPause(int milliseconds);
    void setConnectionLimit(int limit);
    void setDepartedLimits(qint64 maxAgeMs, int maxCount);

    // Open connections; safe to read from any thread.
    int connectionCount() const;
    VelmoraDeviceSupervisor *deviceSupervisor() const { return supervisor; }
    // Devices reported absent and devices refused; any thread.
    int absentDeviceCount() const;
    int refusedDeviceCount() const;

    // The devices connected now and those that left lately. Network thread
    // only; its cost grows with the number of devices.
    SVelmoraDeviceSnapshot deviceSnapshot();

signals:
    void logSignal(QString line);
    // One per pass of the event loop that brought events.
    void msgsSignal(QVector<SVelmoraMsg> msgs);
    // The answer to deviceSnapshotSlot.
    void deviceSnapshotSignal(SVelmoraDeviceSnapshot snapshot);

public slots:
    void startSlot();
    void stopSlot();
    // Emits deviceSnapshotSignal with a fresh snapshot.
    void deviceSnapshotSlot();
    // Which devices may report and their supervision period (0: none);
    // reads the device list again.
    void configureDevicesSlot(bool onlyListed, int supervisionS);
    // The operator's word from the devices window.
    void acceptDeviceMacSlot(const QString &deviceId);
    void forgetDeviceSlot(const QString &deviceId);

private:
    void addConnections(const QVector<qintptr> &descriptors);
    void readFrom(DeviceSocket *socket);
    void removeClient(DeviceSocket *socket);
    void report(const SVelmoraLogLine &line);

    VelmoraStampClock stamps;
    VelmoraConnectionTable *table = nullptr;
    VelmoraConnectionAcceptor *acceptor = nullptr;
    VelmoraReceivePass *pass = nullptr;
    VelmoraDeviceSupervisor *supervisor = nullptr;
    VelmoraDeviceSnapshots snapshots;
    // One device's bytes at a time are read into this; no connection keeps
    // a buffer of its own.
    QByteArray readBuffer;

    // The listen address is handed over from the window's thread.
    QMutex listenMutex;
    QString requestedAddress;
    int requestedPort = 0;
};

#endif // VELMORANETWORKSERVER_H
