#include "velmoranetworkthread.h"

#include "descriptorlimit.h"
#include "networkeventdispatcher.h"
#include "velmoranetworkserver.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <climits>
#include <memory>

namespace {

// Descriptors the program may still need besides its connections: the day
// log, the journal and its compaction, the serial port opened again, the
// settings file, the window's own.
constexpr long kDescriptorsKeptBack = 32;

} // namespace

VelmoraNetworkThread::VelmoraNetworkThread(QObject *parent)
    : QThread(parent)
{
    // The snapshot crosses to the window through a queued connection.
    registerVelmoraDeviceSnapshotType();
    // Installed before the thread starts, as the toolkit requires; the
    // thread owns it.
    if (QAbstractEventDispatcher *dispatcher = NetworkEventDispatcher::create())
        setEventDispatcher(dispatcher);
}

void VelmoraNetworkThread::setAddress(const QString &listenAddress)
{
    address = listenAddress;
}

void VelmoraNetworkThread::setPort(int listenPort)
{
    port = listenPort;
}

void VelmoraNetworkThread::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

bool VelmoraNetworkThread::waitUntilReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&serverMutex);
    while (!networkServer) {
        if (!serverReady.wait(&serverMutex, deadline))
            return networkServer != nullptr;
    }
    return true;
}

int VelmoraNetworkThread::connectionCount() const
{
    QMutexLocker locker(&serverMutex);
    return networkServer ? networkServer->connectionCount() : 0;
}

void VelmoraNetworkThread::requestDeviceSnapshot()
{
    emit deviceSnapshotRequestSignal();
}

void VelmoraNetworkThread::networkStopSlot()
{
    emit stopSignal();
}

void VelmoraNetworkThread::networkStartSlot()
{
    QMutexLocker locker(&serverMutex);
    if (!networkServer)
        return;
    networkServer->setListenAddress(address, port);
    emit startSignal();
}

void VelmoraNetworkThread::run()
{
    // Before the first device connects: one descriptor per connection,
    // and some kept back for the program's own files.
    const long limit = DescriptorLimit::raiseToMaximum();
    const long held = DescriptorLimit::inUse();

    // Created here so that the server and its sockets belong to this thread,
    // and freed here when the loop ends, while they still do.
    auto server = std::make_unique<VelmoraNetworkServer>();
    server->setEventStore(eventStore);
    if (limit > 0 && limit < INT_MAX && held >= 0)
        server->setConnectionLimit(int(std::max(1L, limit - held - kDescriptorsKeptBack)));
    // Relayed in this thread, so that each receiver's own connection decides
    // where a line or an event goes next: an event goes from here straight
    // into the serial thread, not through the window's queue.
    connect(server.get(), &VelmoraNetworkServer::logSignal, this, &VelmoraNetworkThread::logSignal,
            Qt::DirectConnection);
    connect(server.get(), &VelmoraNetworkServer::msgSignal, this, &VelmoraNetworkThread::msgSignal,
            Qt::DirectConnection);
    connect(this, &VelmoraNetworkThread::stopSignal, server.get(), &VelmoraNetworkServer::stopSlot,
            Qt::QueuedConnection);
    connect(this, &VelmoraNetworkThread::startSignal, server.get(), &VelmoraNetworkServer::startSlot,
            Qt::QueuedConnection);
    connect(server.get(), &VelmoraNetworkServer::deviceSnapshotSignal, this,
            &VelmoraNetworkThread::deviceSnapshotSignal, Qt::DirectConnection);
    connect(this, &VelmoraNetworkThread::deviceSnapshotRequestSignal, server.get(),
            &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
    publishServer(server.get());

    exec();

    publishServer(nullptr);
}

void VelmoraNetworkThread::publishServer(VelmoraNetworkServer *server)
{
    QMutexLocker locker(&serverMutex);
    networkServer = server;
    serverReady.wakeAll();
}
