#ifndef VELMORANETWORKTHREAD_H
#define VELMORANETWORKTHREAD_H

#include "svelmoradevicesnapshot.h"
#include "svelmoramsg.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class VelmoraEventStore;
class VelmoraNetworkServer;

// The network thread. The window talks only to this object, which lives in
// the GUI thread; run() keeps the VelmoraNetworkServer in the network thread
// and relays its lines and events.
class VelmoraNetworkThread : public QThread
{
    Q_OBJECT

public:
    explicit VelmoraNetworkThread(QObject *parent = nullptr);

    void setAddress(const QString &listenAddress);
    void setPort(int listenPort);
    // Before start(); null: events are acknowledged without being journaled.
    void setEventStore(VelmoraEventStore *store);

    // True once run() has created the server and connected it, so that a
    // start request is no longer ignored; false after the timeout.
    bool waitUntilReady(int timeoutMs = 10000);

    // Open device connections; 0 while there is no server. Any thread.
    int connectionCount() const;

    // Asks the server, in its own thread, for a snapshot of the devices; it
    // comes back on deviceSnapshotSignal. Ignored while there is no server.
    void requestDeviceSnapshot();

    // Created and deleted by run(), which is the only writer; other threads
    // read it under serverMutex, or after waitUntilReady().
    VelmoraNetworkServer *networkServer = nullptr;

signals:
    void logSignal(QString line);
    void msgSignal(SVelmoraMsg msg);
    void startSignal();
    void stopSignal();
    // Relays the server's answer to requestDeviceSnapshot().
    void deviceSnapshotSignal(SVelmoraDeviceSnapshot snapshot);
    // Connected to the server's deviceSnapshotSlot, queued.
    void deviceSnapshotRequestSignal();

public slots:
    void networkStopSlot();
    void networkStartSlot();

private:
    void run() override;
    void publishServer(VelmoraNetworkServer *server);

    QString address;
    int port = 0;
    VelmoraEventStore *eventStore = nullptr;
    mutable QMutex serverMutex;
    QWaitCondition serverReady;
};

#endif // VELMORANETWORKTHREAD_H
