#include "velmoranetworkthread.h"

#include "descriptorlimit.h"
#include "networkeventdispatcher.h"
#include "svelmoradevicesnapshot.h"
#include "velmoranetworkserver.h"

#include <QAbstractEventDispatcher>
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

VelmoraNetworkThread::VelmoraNetworkThread(VelmoraClock &clockToUse, QObject *parent)
    : QThread(parent), clock(clockToUse)
{
    // The snapshot crosses to the window through a queued connection.
    registerVelmoraDeviceSnapshotType();
    // Installed before the thread starts, as the toolkit requires; the
    // thread owns it.
    if (QAbstractEventDispatcher *dispatcher = NetworkEventDispatcher::create())
        setEventDispatcher(dispatcher);
}

void VelmoraNetworkThread::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

void VelmoraNetworkThread::setDeviceStore(VelmoraDeviceStore *store)
{
    deviceStore = store;
}

void VelmoraNetworkThread::setDeviceListPath(const QString &path)
{
    deviceListPath = path;
}

void VelmoraNetworkThread::startWorker()
{
    QMutexLocker locker(&serverMutex);
    start();
    while (!server)
        serverReady.wait(&serverMutex);
}

VelmoraNetworkServer *VelmoraNetworkThread::worker() const
{
    QMutexLocker locker(&serverMutex);
    return server;
}

int VelmoraNetworkThread::connectionCount() const
{
    QMutexLocker locker(&serverMutex);
    return server ? server->connectionCount() : 0;
}

int VelmoraNetworkThread::absentDeviceCount() const
{
    QMutexLocker locker(&serverMutex);
    return server ? server->absentDeviceCount() : 0;
}

int VelmoraNetworkThread::refusedDeviceCount() const
{
    QMutexLocker locker(&serverMutex);
    return server ? server->refusedDeviceCount() : 0;
}

void VelmoraNetworkThread::run()
{
    // Before the first device connects: one descriptor per connection,
    // and some kept back for the program's own files.
    const long limit = DescriptorLimit::raiseToMaximum();
    const long held = DescriptorLimit::inUse();

    // Created here so that the server and its sockets belong to this thread,
    // and freed here when the loop ends, while they still do.
    auto created = std::make_unique<VelmoraNetworkServer>(clock);
    created->setEventStore(eventStore);
    created->setDeviceStore(deviceStore);
    created->setDeviceListPath(deviceListPath);
    if (limit > 0 && limit < INT_MAX && held >= 0)
        created->setConnectionLimit(int(std::max(1L, limit - held - kDescriptorsKeptBack)));
    publishWorker(created.get());

    exec();

    publishWorker(nullptr);
}

void VelmoraNetworkThread::publishWorker(VelmoraNetworkServer *published)
{
    QMutexLocker locker(&serverMutex);
    server = published;
    serverReady.wakeAll();
}
