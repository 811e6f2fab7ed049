#include "velmoranetworkserver.h"

#include "devicesocket.h"
#include "listeningsocket.h"
#include "socketio.h"
#include "svelmoraclient.h"
#include "svelmoraframeoutcome.h"
#include "svelmoralogline.h"
#include "velmoraeventstore.h"
#include "velmoraframe.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmorapacketdecoder.h"

#include <QDateTime>
#include <QHostAddress>
#include <QMutexLocker>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

using Screen = SVelmoraLogLine::Screen;

const char kTag[] = "net";
// What one read of one device takes at most. A device sends a frame of a few
// dozen bytes at a time; one that sends megabytes at once is read in steps,
// the rest waiting in the system's buffer (and then in the device), so
// neither the read nor its log line grows with what the device sent.
constexpr qint64 kReadBufferBytes = 65536;
constexpr int kMaxAcceptsInOnePass = 1024;
// Port 0 would ask the system for any free port, which no device knows.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

const char kListening[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Server start listening %2:%3.");
const char kUnableToListen[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Unable to listen %2:%3.");
const char kAccepted[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Connection accepted from %2:%3 Count: (%4)");
const char kCannotSendMacRequest[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Can not send mac request to %2:%3.");
const char kDisconnected[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Client disconnected %2:%3 Count: (%4)");
const char kClosing[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Closing tcp sockets Count (%2).");
const char kStopped[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Server stopped successfully.");
const char kRefusing[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Can not accept connections on %2:%3 (%4), new devices wait Count: (%5)");
const char kAcceptingAgain[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Accepting connections on %2:%3 again Count: (%4)");
const char kHalfFrameExpired[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Incomplete packet from %2:%3 dropped after %4 s (%5).");
// The sweep of waiting half frames runs this often compared with their
// time-out, so that none waits much longer than it.
constexpr int kHalfFrameChecksPerTimeout = 4;
constexpr int kMaxHalfFrameCheckMs = 1000;
const char kNoiseLeftOut[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] %2:%3 sent %4 more read(s), %5 bytes, that held no frame; they were not logged one by one.");
const char kNotJournaled[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Can not journal %4 event(s) from %2:%3, no ACK sent, the device will repeat them: %5.");

QString tag()
{
    return QString::fromLatin1(kTag);
}

} // namespace

VelmoraNetworkServer::VelmoraNetworkServer(QObject *parent)
    : QObject(parent)
    , readBuffer(int(kReadBufferBytes), Qt::Uninitialized)
    , halfFrameTimer(new QTimer(this))
    , acceptPauseTimer(new QTimer(this))
{
    clock.start();
    connect(halfFrameTimer, &QTimer::timeout, this, &VelmoraNetworkServer::expireHalfFrames);
    acceptPauseTimer->setSingleShot(true);
    connect(acceptPauseTimer, &QTimer::timeout, this, &VelmoraNetworkServer::resumeAccepting);
    backlogTimer = new QTimer(this);
    connect(backlogTimer, &QTimer::timeout, this, &VelmoraNetworkServer::recheckBacklog);
}

VelmoraNetworkServer::~VelmoraNetworkServer()
{
    stopSlot();
}

void VelmoraNetworkServer::setListenAddress(const QString &listenAddress, int listenPort)
{
    QMutexLocker locker(&listenMutex);
    requestedAddress = listenAddress;
    requestedPort = listenPort;
}

void VelmoraNetworkServer::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

void VelmoraNetworkServer::setBacklogLimits(const VelmoraBacklogGuard::Limits &limits)
{
    backlogGuard.setLimits(limits);
}

int VelmoraNetworkServer::connectionCount() const
{
    return clientCount.load();
}

void VelmoraNetworkServer::setHalfFrameTimeout(int milliseconds)
{
    halfFrameTimeoutMs = std::max(1, milliseconds);
}

void VelmoraNetworkServer::setAcceptPause(int milliseconds)
{
    acceptPauseMs = std::max(1, milliseconds);
}

void VelmoraNetworkServer::setConnectionLimit(int limit)
{
    connectionLimit = std::max(0, limit);
}

void VelmoraNetworkServer::startSlot()
{
    // Only one listener at a time: a second one would hold the port.
    closeListener();
    acceptPauseTimer->stop();
    refusing = false;
    atConnectionLimit = false;
    {
        QMutexLocker locker(&listenMutex);
        address = requestedAddress;
        port = requestedPort;
    }

    if (port >= kMinPort && port <= kMaxPort) {
        QString reason;
        listenDescriptor = ListeningSocket::open(address, static_cast<quint16>(port), &reason);
    }
    const QStringList args = {tag(), address, QString::number(port)};
    if (listenDescriptor < 0) {
        report(kUnableToListen, kLogError, args);
        return;
    }
    listenNotifier = new QSocketNotifier(listenDescriptor, QSocketNotifier::Read, this);
    connect(listenNotifier, &QSocketNotifier::activated, this, &VelmoraNetworkServer::acceptConnectionSlot);
    report(kListening, kLogInfo, args);
    VelmoraMetrics::instance().receiverListening.set(1);
}

void VelmoraNetworkServer::closeListener()
{
    if (listenNotifier) {
        // It may be the notifier whose signal runs now.
        listenNotifier->setEnabled(false);
        listenNotifier->deleteLater();
        listenNotifier = nullptr;
    }
    ListeningSocket::close(listenDescriptor);
    listenDescriptor = -1;
    VelmoraMetrics::instance().receiverListening.set(0);
}

void VelmoraNetworkServer::stopSlot()
{
    // Frames already read are answered before their connections close.
    // Outside the lock: a reply can end a connection, and disconnectSlot
    // takes the lock.
    applyDecodedReads();

    QMutexLocker locker(&mutex);
    report(kClosing, kLogError, {tag(), QString::number(clients.size())});

    QVector<SVelmoraClient *> closing;
    closing.reserve(clients.size());
    for (SVelmoraClient *client : qAsConst(clients))
        closing << client;
    std::sort(closing.begin(), closing.end(), [](const SVelmoraClient *a, const SVelmoraClient *b) {
        return a->acceptedOrder < b->acceptedOrder;
    });
    clients.clear();
    halfFrames.clear();
    halfFrameTimer->stop();
    publishCount();
    for (SVelmoraClient *client : qAsConst(closing)) {
        client->socket->disconnect(this);
        SVelmoraDeviceRow departed = rowOf(*client);
        departed.disconnectedAt = QDateTime::currentMSecsSinceEpoch();
        departedDevices.add(departed);
        client->socket->close();
        client->socket->deleteLater();
        delete client;
    }
    report(kStopped, kLogError, {tag()});

    closeListener();
    acceptPauseTimer->stop();
    refusing = false;
}

void VelmoraNetworkServer::acceptConnectionSlot()
{
    const VelmoraLogBatch logBatch;
    // The connections waiting are taken from the system first, then given
    // their records and lines, then their MAC requests: when thousands of
    // devices reconnect at once, the system's queue of connections waiting
    // to be taken (as long as its somaxconn) is emptied in a few
    // milliseconds and does not overflow, and a device whose connection
    // overflowed it waits a second or more for its system to try again. At
    // most kMaxAcceptsInOnePass in one pass of the event loop, so that the
    // devices already connected are read in between; the rest wake the
    // listener again.
    QVector<qintptr> taken;
    while (listenDescriptor >= 0 && taken.size() < kMaxAcceptsInOnePass) {
        if (connectionLimit > 0 && clients.size() + taken.size() >= connectionLimit) {
            atConnectionLimit = true;
            refuseConnections(QStringLiteral("%1 connections, the most the open-file limit leaves room for")
                                  .arg(connectionLimit));
            break;
        }
        qintptr descriptor = -1;
        const SocketIo::Result accepted = SocketIo::accept(listenDescriptor, &descriptor);
        if (accepted.status == SocketIo::Status::WouldBlock)
            break;
        if (accepted.status != SocketIo::Status::Done) {
            if (!SocketIo::isOutOfResources(accepted.error))
                continue; // that one connection failed; the next may not
            // Without a descriptor for it, the connection still waiting
            // would wake the listener again at once, so it rests first.
            refuseConnections(SocketIo::errorText(accepted.error));
            acceptPauseTimer->start(acceptPauseMs);
            break;
        }
        taken.append(descriptor);
    }

    QVector<SVelmoraClient *> fresh;
    fresh.reserve(taken.size());
    for (const qintptr descriptor : qAsConst(taken)) {
        auto *socket = new DeviceSocket(descriptor, this);
        connect(socket, &DeviceSocket::readyRead, this, [this, socket] { readFrom(socket); });
        auto *client = new SVelmoraClient;
        client->socket = socket;
        QHostAddress peerHost;
        SocketIo::peer(descriptor, &peerHost, &client->peerPort);
        client->peerAddress = peerHost.toString();
        client->acceptedOrder = ++acceptedSoFar;
        client->activity.connectedAt = QDateTime::currentMSecsSinceEpoch();
        fresh.append(client);
        int count = 0;
        {
            QMutexLocker locker(&mutex);
            clients.insert(socket, client);
            count = clients.size();
            publishCount();
        }
        if (refusing) {
            refusing = false;
            report(kAcceptingAgain, kLogInfo, QStringList(listenArgs()) << QString::number(count - 1));
        }
        report(kAccepted, kLogInfo,
               {tag(), client->peerAddress, QString::number(client->peerPort), QString::number(count)});
    }
    // Nothing since the accepting has run the event loop, so every record
    // is still there.
    for (const SVelmoraClient *client : qAsConst(fresh)) {
        if (sendMacRequest(client->socket) != 1)
            report(kCannotSendMacRequest, kLogError,
                   {tag(), client->peerAddress, QString::number(client->peerPort)});
    }
}

void VelmoraNetworkServer::readyRead()
{
    if (auto *socket = qobject_cast<DeviceSocket *>(sender()))
        readFrom(socket);
}

void VelmoraNetworkServer::readFrom(DeviceSocket *socket)
{
    const qint64 got = socket->read(readBuffer.data(), kReadBufferBytes);
    if (got <= 0) {
        if (!socket->isOpen())
            removeClient(socket);
        return;
    }
    const char *bytes = readBuffer.constData();
    const int length = int(got);
    SVelmoraClient *client = findClient(socket);
    if (!client)
        return;
    const QString &peerAddress = client->peerAddress;
    const quint16 peerPort = client->peerPort;
    // "[%1] Received packet from %2:%3 : %4.", built straight from its
    // parts: every read of every device has this line.
    const QString hexText = VelmoraFrame::toHexString(reinterpret_cast<const quint8 *>(bytes), length);
    const QString portText = QString::number(peerPort);
    QString line;
    line.reserve(48 + peerAddress.size() + hexText.size());
    line += QLatin1Char('[');
    line += QLatin1String(kTag);
    line += QLatin1String("] Received packet from ");
    line += peerAddress;
    line += QLatin1Char(':');
    line += portText;
    line += QLatin1String(" : ");
    line += hexText;
    line += QLatin1Char('.');
    currentReceivedLine = line;
    // A frame begun long ago is not joined to these bytes: the device has
    // given it up and starts afresh.
    if (client && client->halfFrameSince != 0 && clock.elapsed() - client->halfFrameSince >= halfFrameTimeoutMs)
        dropHalfFrame(client);
    parsePacket(bytes, length, socket);
}

void VelmoraNetworkServer::disconnectSlot()
{
    if (auto *socket = qobject_cast<DeviceSocket *>(sender()))
        removeClient(socket);
}

void VelmoraNetworkServer::removeClient(DeviceSocket *socket)
{
    QString peerAddress;
    quint16 peerPort = 0;
    int count = 0;
    SVelmoraLogLine noiseLine;
    {
        QMutexLocker locker(&mutex);
        SVelmoraClient *client = clients.take(socket);
        if (!client)
            return;
        halfFrames.remove(client);
        publishCount();
        peerAddress = client->peerAddress;
        peerPort = client->peerPort;
        const VelmoraNoiseLimiter::Decision leftOut = client->noiseLimiter.takeLeftOut();
        if (leftOut.readsLeftOut > 0)
            noiseLine = noiseLeftOutOutcome(*client, leftOut).logLines.first();
        SVelmoraDeviceRow departed = rowOf(*client);
        departed.disconnectedAt = QDateTime::currentMSecsSinceEpoch();
        departedDevices.add(departed);
        delete client;
        socket->disconnect(this);
        socket->close();
        // Later, not now: this runs inside the socket's own signal.
        socket->deleteLater();
        count = clients.size();
    }
    if (!noiseLine.fileText.isEmpty())
        report(noiseLine);
    report(kDisconnected, kLogInfo, {tag(), peerAddress, QString::number(peerPort), QString::number(count)});
    if (atConnectionLimit && count < connectionLimit) {
        atConnectionLimit = false;
        resumeAccepting();
        // Not left to the listener's notifier alone: a connection that was
        // already waiting may bring no new signal on every system.
        QMetaObject::invokeMethod(this, &VelmoraNetworkServer::acceptConnectionSlot, Qt::QueuedConnection);
    }
}

SVelmoraFrameOutcome VelmoraNetworkServer::noiseLeftOutOutcome(const SVelmoraClient &client,
                                                               const VelmoraNoiseLimiter::Decision &decision)
{
    SVelmoraFrameOutcome outcome;
    outcome.logLines << SVelmoraLogLine::make(
        kNoiseLeftOut, Screen::Translated, kNoiseLeftOut, kLogError,
        {tag(), client.peerAddress, QString::number(client.peerPort), QString::number(decision.readsLeftOut),
         QString::number(decision.bytesLeftOut)});
    return outcome;
}

int VelmoraNetworkServer::parsePacket(const char *bytes, int length, DeviceSocket *socket)
{
    const QString receivedLine = std::exchange(currentReceivedLine, QString());
    SVelmoraClient *client = findClient(socket);
    if (!client) {
        if (!receivedLine.isEmpty())
            VelmoraCommon_LogError(receivedLine);
        return -1;
    }
    DecodedRead read;
    read.socket = socket;
    read.receivedLine = receivedLine;
    read.peerAddress = client->peerAddress;
    read.peerPort = client->peerPort;
    read.outcomes = VelmoraPacketDecoder::decodeRead(*client, bytes, length, localNow());
    read.readAtUs = VelmoraMetrics::monotonicUs();
    for (const SVelmoraFrameOutcome &outcome : qAsConst(read.outcomes)) {
        VelmoraMetrics::instance().framesReceived.add(outcome.result == 1 ? 1 : 0);
        VelmoraMetrics::instance().eventsReceived.add(outcome.hasEvent ? 1 : 0);
    }
    client->activity.noteOutcomes(read.outcomes, QDateTime::currentMSecsSinceEpoch());
    trackHalfFrame(client, !read.outcomes.isEmpty());
    const bool handled = std::any_of(read.outcomes.cbegin(), read.outcomes.cend(),
                                     [](const SVelmoraFrameOutcome &outcome) { return outcome.result == 1; });
    // A stream of bytes that are no frame would otherwise write lines for
    // every read.
    const bool noise = !handled && (!read.outcomes.isEmpty() || client->noiseLimiter.burstGoingOn());
    const VelmoraNoiseLimiter::Decision noiseDecision = client->noiseLimiter.take(noise, length, clock.elapsed());
    if (!noiseDecision.logRead) {
        read.receivedLine.clear();
        for (SVelmoraFrameOutcome &outcome : read.outcomes)
            outcome.logLines.clear();
    }
    if (noiseDecision.readsLeftOut > 0)
        read.outcomes.prepend(noiseLeftOutOutcome(*client, noiseDecision));
    // A read that completes no frame is kept too, for its day log line.
    decodedReads.append(read);
    if (!applyScheduled) {
        // Each durable write costs a disk flush, and each write of the day
        // log a system call; a hundred devices sending at once would
        // otherwise wait for a hundred of them, one after another.
        applyScheduled = true;
        QMetaObject::invokeMethod(this, &VelmoraNetworkServer::applyDecodedReads, Qt::QueuedConnection);
    }
    return handled ? 1 : -1;
}

void VelmoraNetworkServer::applyDecodedReads()
{
    applyScheduled = false;
    QVector<DecodedRead> reads = std::exchange(decodedReads, {});
    if (reads.isEmpty())
        return;
    // The pass's day log lines go to the file in one write.
    const VelmoraLogBatch logBatch;
    const bool journaled = journalEvents(reads);

    // The replies of the whole pass go out first, then its events, then its
    // log lines, each in the order the frames came. A device waits for its
    // ACK only as long as the disk flush, not for the day log lines of every
    // other device that sent at the same moment.
    for (const DecodedRead &read : qAsConst(reads)) {
        // The device may have gone while its read waited; its socket is
        // freed later, and never while this runs.
        if (!read.socket || !read.socket->isOpen())
            continue;
        QByteArray replies;
        for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
            // An event that is not safe on disk is not acknowledged: the
            // device keeps it and sends it again.
            if (outcome.reply.isEmpty() || (outcome.hasEvent && !journaled))
                continue;
            if (replies.isEmpty())
                replies = outcome.reply;
            else
                replies += outcome.reply;
        }
        read.socket->write(replies);
        if (!replies.isEmpty())
            VelmoraMetrics::instance().deviceAckLatency.observeUs(VelmoraMetrics::monotonicUs() - read.readAtUs);
    }

    // Then the events, before any log line: a pass that read a flood from
    // one device has thousands of lines to write, and another device's
    // alarm in the same pass must not wait for them.
    if (journaled) {
        for (const DecodedRead &read : qAsConst(reads)) {
            for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
                if (outcome.hasEvent)
                    emit msgSignal(outcome.event);
            }
        }
    }

    for (const DecodedRead &read : qAsConst(reads)) {
        if (!read.receivedLine.isEmpty())
            VelmoraCommon_LogError(read.receivedLine);
        int withheld = 0;
        for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
            for (const SVelmoraLogLine &line : outcome.logLines)
                report(line);
            if (outcome.hasEvent && !journaled)
                ++withheld;
        }
        if (withheld > 0) {
            report(kNotJournaled, kLogError,
                   {tag(), read.peerAddress, QString::number(read.peerPort), QString::number(withheld),
                    eventStore->errorString()});
        }
    }
}

int VelmoraNetworkServer::sendMacRequest(DeviceSocket *socket)
{
    return socket && socket->write(VelmoraFrame::macRequest()) ? 1 : -1;
}

bool VelmoraNetworkServer::journalEvents(QVector<DecodedRead> &reads)
{
    if (!eventStore)
        return true;
    QVector<SVelmoraMsg> events;
    for (const DecodedRead &read : qAsConst(reads)) {
        for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
            if (outcome.hasEvent)
                events << outcome.event;
        }
    }
    if (events.isEmpty())
        return true;

    // Events beyond the backlog's limits are neither journaled nor
    // acknowledged: the devices keep them and send them again.
    QVector<SVelmoraLogLine> limitLines;
    const QVector<bool> admitted = backlogGuard.admit(events, *eventStore, &limitLines);
    for (const SVelmoraLogLine &line : qAsConst(limitLines))
        report(line);
    const auto refusedByLimit = std::uint64_t(admitted.count(false));
    VelmoraMetrics::instance().backlogLimitHits.add(refusedByLimit);
    VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::BacklogLimit, refusedByLimit);
    if (backlogGuard.anyInForce() && !backlogTimer->isActive())
        backlogTimer->start(backlogGuard.limits().recheckMs);
    QVector<SVelmoraMsg> accepted;
    accepted.reserve(events.size());
    for (int index = 0; index < events.size(); ++index) {
        if (admitted.at(index))
            accepted << events.at(index);
    }
    if (!accepted.isEmpty() && !eventStore->appendDurably(accepted)) {
        VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::NotJournaled, accepted.size());
        return false;
    }
    int next = 0;
    int nextAccepted = 0;
    for (DecodedRead &read : reads) {
        for (SVelmoraFrameOutcome &outcome : read.outcomes) {
            if (!outcome.hasEvent || next >= admitted.size())
                continue;
            if (admitted.at(next++)) {
                outcome.event.journalId = accepted.at(nextAccepted++).journalId;
            } else {
                outcome.hasEvent = false;
                outcome.reply.clear();
            }
        }
    }
    return true;
}

void VelmoraNetworkServer::recheckBacklog()
{
    QVector<SVelmoraLogLine> lines;
    if (eventStore)
        backlogGuard.recheck(*eventStore, &lines);
    for (const SVelmoraLogLine &line : qAsConst(lines))
        report(line);
    if (!eventStore || !backlogGuard.anyInForce())
        backlogTimer->stop();
}

void VelmoraNetworkServer::report(const SVelmoraLogLine &line)
{
    if (!line.screenText.isEmpty())
        emit logSignal(line.screenText);
    if (line.fileText.isEmpty())
        return;
    if (line.fileLevel == kLogError)
        VelmoraCommon_LogError(line.fileText);
    else if (line.fileLevel == kLogInfo)
        VelmoraCommon_LogInfo(line.fileText);
    else
        VelmoraCommon_Logprintf(line.fileText, line.fileLevel);
}

void VelmoraNetworkServer::report(const char *text, int fileLevel, const QStringList &args)
{
    report(SVelmoraLogLine::make(text, Screen::Translated, text, fileLevel, args));
}

QDateTime VelmoraNetworkServer::localNow()
{
    // The toolkit's local time looks at the system's time zone file again
    // on every call, which cost more than decoding the frame. The offset
    // from UTC changes only on a whole second, so it is asked once a second.
    const qint64 milliseconds = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = milliseconds >= 0 ? milliseconds / 1000 : (milliseconds - 999) / 1000;
    if (second != offsetSecond) {
        offsetSecond = second;
        utcOffsetSeconds = QDateTime::fromMSecsSinceEpoch(second * 1000).offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::OffsetFromUTC, utcOffsetSeconds);
}

SVelmoraClient *VelmoraNetworkServer::findClient(const DeviceSocket *socket) const
{
    return clients.value(socket, nullptr);
}

QStringList VelmoraNetworkServer::listenArgs() const
{
    return {tag(), address, QString::number(port)};
}

void VelmoraNetworkServer::refuseConnections(const QString &reason)
{
    if (listenNotifier)
        listenNotifier->setEnabled(false);
    if (!refusing) {
        refusing = true;
        report(kRefusing, kLogError, QStringList(listenArgs()) << reason << QString::number(clients.size()));
    }
}

void VelmoraNetworkServer::resumeAccepting()
{
    if (listenNotifier)
        listenNotifier->setEnabled(true);
}

void VelmoraNetworkServer::trackHalfFrame(SVelmoraClient *client, bool frameTaken)
{
    if (client->receiveBuffer.size() == 0) {
        client->halfFrameSince = 0;
        halfFrames.remove(client);
        return;
    }
    // Bytes added to the frame already waiting do not restart its time.
    if (frameTaken || client->halfFrameSince == 0)
        client->halfFrameSince = std::max<qint64>(1, clock.elapsed());
    halfFrames.insert(client);
    if (!halfFrameTimer->isActive())
        halfFrameTimer->start(std::min(kMaxHalfFrameCheckMs,
                                       std::max(1, halfFrameTimeoutMs / kHalfFrameChecksPerTimeout)));
}

void VelmoraNetworkServer::expireHalfFrames()
{
    const qint64 now = clock.elapsed();
    QVector<SVelmoraClient *> expired;
    for (SVelmoraClient *client : qAsConst(halfFrames)) {
        if (now - client->halfFrameSince >= halfFrameTimeoutMs)
            expired << client;
    }
    for (SVelmoraClient *client : qAsConst(expired))
        dropHalfFrame(client);
    if (halfFrames.isEmpty())
        halfFrameTimer->stop();
}

void VelmoraNetworkServer::dropHalfFrame(SVelmoraClient *client)
{
    const QByteArray bytes = client->receiveBuffer.takeAll();
    client->halfFrameSince = 0;
    halfFrames.remove(client);
    report(kHalfFrameExpired, kLogError,
           {tag(), client->peerAddress, QString::number(client->peerPort),
            QString::number(halfFrameTimeoutMs / 1000.0),
            VelmoraFrame::toHexString(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size())});
}

void VelmoraNetworkServer::publishCount()
{
    clientCount.store(clients.size());
    VelmoraMetrics::instance().devicesConnected.set(clients.size());
}

SVelmoraDeviceRow VelmoraNetworkServer::rowOf(const SVelmoraClient &client)
{
    SVelmoraDeviceRow row;
    // The ID comes with every frame; before the first one it is not known.
    if (client.activity.framesReceived > 0)
        row.deviceId = VelmoraFrame::toHexString(client.id.data(), VelmoraFrame::kIdSize);
    row.peerAddress = client.peerAddress;
    row.peerPort = client.peerPort;
    row.connectedAt = client.activity.connectedAt;
    row.lastFrameAt = client.activity.lastFrameAt;
    row.lastTestAt = client.activity.lastTestAt;
    row.framesReceived = client.activity.framesReceived;
    row.macKnown = client.macKnown;
    return row;
}

SVelmoraDeviceSnapshot VelmoraNetworkServer::deviceSnapshot()
{
    SVelmoraDeviceSnapshot snapshot;
    snapshot.takenAt = QDateTime::currentMSecsSinceEpoch();
    QVector<const SVelmoraClient *> open;
    open.reserve(clients.size());
    for (const SVelmoraClient *client : qAsConst(clients))
        open << client;
    std::sort(open.begin(), open.end(), [](const SVelmoraClient *a, const SVelmoraClient *b) {
        return a->acceptedOrder < b->acceptedOrder;
    });
    snapshot.connected.reserve(open.size());
    for (const SVelmoraClient *client : qAsConst(open))
        snapshot.connected << rowOf(*client);
    snapshot.disconnected = departedDevices.rows(snapshot.takenAt);
    return snapshot;
}

void VelmoraNetworkServer::setDepartedLimits(qint64 maxAgeMs, int maxCount)
{
    departedDevices.setLimits(maxAgeMs, maxCount);
}

void VelmoraNetworkServer::deviceSnapshotSlot()
{
    emit deviceSnapshotSignal(deviceSnapshot());
}
