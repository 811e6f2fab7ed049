#include "velmoranetworkserver.h"

#include "velmorametrics.h"

#include "devicesocket.h"
#include "socketio.h"
#include "svelmoraclient.h"
#include "svelmoralogline.h"
#include "velmoraconnectionacceptor.h"
#include "velmoraconnectiontable.h"
#include "velmoradevicesupervisor.h"
#include "velmoraframe.h"
#include "velmorareceivepass.h"
#include "velmorareceiverreport.h"

#include <QHostAddress>
#include <QMutexLocker>

namespace {

// What one read of one device takes at most. A device sends a frame of a few
// dozen bytes at a time; one that sends megabytes at once is read in steps,
// the rest waiting in the system's buffer (and then in the device), so
// neither the read nor its log line grows with what the device sent.
constexpr qint64 kReadBufferBytes = 65536;

} // namespace

VelmoraNetworkServer::VelmoraNetworkServer(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent)
    , stamps(clockToUse)
    , table(new VelmoraConnectionTable(clockToUse, this))
    , acceptor(new VelmoraConnectionAcceptor(clockToUse, *table, this))
    , pass(new VelmoraReceivePass(clockToUse, this))
    , supervisor(new VelmoraDeviceSupervisor(clockToUse, this))
    , readBuffer(int(kReadBufferBytes), Qt::Uninitialized)
{
    // The pass's events cross to the serial thread queued.
    qRegisterMetaType<QVector<SVelmoraMsg>>("QVector<SVelmoraMsg>");
    const SVelmoraLogLine::Sink sink = [this](const SVelmoraLogLine &line) { report(line); };
    table->setReporter(sink);
    acceptor->setReporter(sink);
    pass->setReporter(sink);
    supervisor->setReporter(sink);
    pass->setDeviceSupervisor(supervisor);
    supervisor->setEventHandOver([this](QVector<SVelmoraMsg> &events, QString *reason) {
        return pass->handOverReceiverEvents(events, reason);
    });
    connect(pass, &VelmoraReceivePass::connectionRefused, this, &VelmoraNetworkServer::removeClient);
    connect(acceptor, &VelmoraConnectionAcceptor::connectionsTaken, this, &VelmoraNetworkServer::addConnections);
    connect(pass, &VelmoraReceivePass::eventsSignal, this, &VelmoraNetworkServer::msgsSignal);
}

VelmoraNetworkServer::~VelmoraNetworkServer()
{
    stopSlot();
}

void VelmoraNetworkServer::setListenAddress(const QString &address, int port)
{
    QMutexLocker locker(&listenMutex);
    requestedAddress = address;
    requestedPort = port;
}

void VelmoraNetworkServer::setEventStore(VelmoraEventStore *store)
{
    pass->setEventStore(store);
}

void VelmoraNetworkServer::setDeviceStore(VelmoraDeviceStore *store)
{
    supervisor->setStore(store);
}

void VelmoraNetworkServer::setDeviceListPath(const QString &path)
{
    supervisor->setListPath(path);
}

int VelmoraNetworkServer::absentDeviceCount() const
{
    return supervisor->absentCount();
}

int VelmoraNetworkServer::refusedDeviceCount() const
{
    return supervisor->refusedCount();
}

void VelmoraNetworkServer::configureDevicesSlot(bool onlyListed, int supervisionS)
{
    supervisor->configure(onlyListed, supervisionS);
}

void VelmoraNetworkServer::acceptDeviceMacSlot(const QString &deviceId)
{
    supervisor->acceptPresentedMac(deviceId);
}

void VelmoraNetworkServer::forgetDeviceSlot(const QString &deviceId)
{
    supervisor->forget(deviceId);
}

void VelmoraNetworkServer::setBacklogLimits(const VelmoraBacklogGuard::Limits &limits)
{
    pass->setBacklogLimits(limits);
}

void VelmoraNetworkServer::setHalfFrameTimeout(int milliseconds)
{
    table->setHalfFrameTimeout(milliseconds);
}

void VelmoraNetworkServer::setAcceptPause(int milliseconds)
{
    acceptor->setAcceptPause(milliseconds);
}

void VelmoraNetworkServer::setConnectionLimit(int limit)
{
    acceptor->setConnectionLimit(limit);
}

void VelmoraNetworkServer::setDepartedLimits(qint64 maxAgeMs, int maxCount)
{
    snapshots.setDepartedLimits(maxAgeMs, maxCount);
}

int VelmoraNetworkServer::connectionCount() const
{
    return table->publishedCount();
}

void VelmoraNetworkServer::startSlot()
{
    QString address;
    int port = 0;
    {
        QMutexLocker locker(&listenMutex);
        address = requestedAddress;
        port = requestedPort;
    }
    acceptor->listen(address, port);
    supervisor->setListening(true);
}

void VelmoraNetworkServer::stopSlot()
{
    // Frames already read are answered before their connections close.
    pass->finish();
    supervisor->setListening(false);

    report(VelmoraReceiverReport::closing(table->size()));
    const qint64 now = stamps.msecsSinceEpoch();
    for (const std::unique_ptr<SVelmoraClient> &client : table->takeAll()) {
        client->socket->disconnect(this);
        snapshots.noteDeparted(*client, now);
        client->socket->close();
        client->socket->deleteLater();
    }
    report(VelmoraReceiverReport::stopped());
    VelmoraMetrics::instance().receiverListening.set(0);
    acceptor->close();
}

void VelmoraNetworkServer::addConnections(const QVector<qintptr> &descriptors)
{
    QVector<SVelmoraClient *> fresh;
    fresh.reserve(descriptors.size());
    const qint64 now = stamps.msecsSinceEpoch();
    for (const qintptr descriptor : descriptors) {
        auto *socket = new DeviceSocket(descriptor, this);
        connect(socket, &DeviceSocket::readyRead, this, [this, socket] { readFrom(socket); });
        SVelmoraClient &client = table->add(socket);
        QHostAddress peerHost;
        SocketIo::peer(descriptor, &peerHost, &client.peerPort);
        client.peerAddress = peerHost.toString();
        client.activity.connectedAt = now;
        fresh.append(&client);
        report(VelmoraReceiverReport::accepted(client.peerAddress, client.peerPort, table->size()));
    }
    // Nothing since the accepting has run the event loop, so every record
    // is still there. What the system does not take at once goes out as the
    // device reads.
    for (const SVelmoraClient *client : qAsConst(fresh)) {
        if (!client->socket->write(VelmoraFrame::macRequest()))
            report(VelmoraReceiverReport::cannotSendMacRequest(client->peerAddress, client->peerPort));
    }
}

void VelmoraNetworkServer::readFrom(DeviceSocket *socket)
{
    const qint64 got = socket->read(readBuffer.data(), kReadBufferBytes);
    if (got <= 0) {
        if (!socket->isOpen())
            removeClient(socket);
        return;
    }
    SVelmoraClient *client = table->find(socket);
    if (!client)
        return;
    const char *bytes = readBuffer.constData();
    const int length = int(got);
    const QString receivedLine =
        VelmoraReceiverReport::receivedPacket(client->peerAddress, client->peerPort, bytes, length);
    // A frame begun long ago is not joined to these bytes: the device has
    // given it up and starts afresh.
    table->dropStaleHalfFrame(*client);
    const bool frameTaken = pass->add(*client, socket, bytes, length, stamps.now(), receivedLine);
    table->noteRead(*client, frameTaken);
}

void VelmoraNetworkServer::removeClient(DeviceSocket *socket)
{
    const std::unique_ptr<SVelmoraClient> client = table->take(socket);
    if (!client)
        return;
    snapshots.noteDeparted(*client, stamps.msecsSinceEpoch());
    const VelmoraNoiseLimiter::Decision leftOut = client->noiseLimiter.takeLeftOut();
    if (leftOut.readsLeftOut > 0) {
        report(VelmoraReceiverReport::noiseLeftOut(client->peerAddress, client->peerPort, leftOut.readsLeftOut,
                                                   leftOut.bytesLeftOut));
    }
    socket->disconnect(this);
    socket->close();
    // Later, not now: this runs inside the socket's own signal.
    socket->deleteLater();
    report(VelmoraReceiverReport::disconnected(client->peerAddress, client->peerPort, table->size()));
    acceptor->connectionLeft();
}

SVelmoraDeviceSnapshot VelmoraNetworkServer::deviceSnapshot()
{
    SVelmoraDeviceSnapshot snapshot = snapshots.take(*table, stamps.msecsSinceEpoch());
    snapshot.known = supervisor->knownDevices();
    return snapshot;
}

void VelmoraNetworkServer::deviceSnapshotSlot()
{
    emit deviceSnapshotSignal(deviceSnapshot());
}

void VelmoraNetworkServer::report(const SVelmoraLogLine &line)
{
    if (!line.screenText.isEmpty())
        emit logSignal(line.screenText);
    line.writeToDayLog();
}
