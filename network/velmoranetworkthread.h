#ifndef VELMORANETWORKTHREAD_H
#define VELMORANETWORKTHREAD_H

#include "velmoraclock.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class VelmoraDeviceStore;
class VelmoraEventStore;
class VelmoraNetworkServer;

// The network thread: its run() creates the VelmoraNetworkServer, which
// then lives in this thread, and runs the event loop. The server's signals
// and slots are connected directly by whoever starts the thread (queued
// across the threads).
class VelmoraNetworkThread : public QThread
{
    Q_OBJECT

public:
    explicit VelmoraNetworkThread(VelmoraClock &clock = VelmoraClock::system(), QObject *parent = nullptr);

    // Before startWorker(); null: events are acknowledged without being
    // journaled.
    void setEventStore(VelmoraEventStore *store);
    // Before startWorker(): where the known devices are kept, and the
    // operator's device list.
    void setDeviceStore(VelmoraDeviceStore *store);
    void setDeviceListPath(const QString &path);

    // Starts the thread and returns once its server exists.
    void startWorker();
    // The server from startWorker() until the thread's loop ends; null
    // before and after. Any thread; its slots are called queued.
    VelmoraNetworkServer *worker() const;

    // Open device connections; 0 while there is no server. Any thread.
    int connectionCount() const;
    // Devices reported absent, and refused; 0 while there is no server.
    // Any thread.
    int absentDeviceCount() const;
    int refusedDeviceCount() const;

private:
    void run() override;
    void publishWorker(VelmoraNetworkServer *server);

    VelmoraClock &clock;
    VelmoraEventStore *eventStore = nullptr;
    VelmoraDeviceStore *deviceStore = nullptr;
    QString deviceListPath;
    // Guards server, written by run() and read by the other threads.
    mutable QMutex serverMutex;
    QWaitCondition serverReady;
    VelmoraNetworkServer *server = nullptr;
};

#endif // VELMORANETWORKTHREAD_H
