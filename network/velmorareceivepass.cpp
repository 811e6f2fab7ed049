#include "velmorareceivepass.h"

#include "devicesocket.h"
#include "svelmoraclient.h"
#include "velmoraclock.h"
#include "velmoradevicesupervisor.h"
#include "velmoraeventstore.h"
#include "velmoraframe.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmorapacketdecoder.h"
#include "velmorareceiverreport.h"

#include <QDateTime>

#include <algorithm>

#include <utility>

VelmoraReceivePass::VelmoraReceivePass(VelmoraClock &clock, QObject *parent)
    : QObject(parent), clock(clock), backlogTimer(new VelmoraTimer(clock, this))
{
    connect(backlogTimer, &VelmoraTimer::timeout, this, &VelmoraReceivePass::recheckBacklog);
}

void VelmoraReceivePass::setReporter(SVelmoraLogLine::Sink sink)
{
    report = std::move(sink);
}

void VelmoraReceivePass::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

void VelmoraReceivePass::setDeviceSupervisor(VelmoraDeviceSupervisor *deviceSupervisor)
{
    supervisor = deviceSupervisor;
}

void VelmoraReceivePass::setBacklogLimits(const VelmoraBacklogGuard::Limits &limits)
{
    backlogGuard.setLimits(limits);
}

bool VelmoraReceivePass::add(SVelmoraClient &client, DeviceSocket *socket, const char *bytes, int length,
                             const QDateTime &receivedAt, const QString &receivedLine)
{
    DecodedRead read;
    read.socket = socket;
    read.receivedLine = receivedLine;
    read.peerAddress = client.peerAddress;
    read.peerPort = client.peerPort;
    read.outcomes = VelmoraPacketDecoder::decodeRead(client, bytes, length, receivedAt);
    read.readAtUs = VelmoraMetrics::monotonicUs();
    countFrames(read.outcomes);
    if (supervisor)
        admitFrames(client, read);
    client.activity.noteOutcomes(read.outcomes, receivedAt.toMSecsSinceEpoch());
    const bool taken = !read.outcomes.isEmpty();
    const bool handled = std::any_of(read.outcomes.cbegin(), read.outcomes.cend(),
                                     [](const SVelmoraFrameOutcome &outcome) { return outcome.handled(); });
    // A stream of bytes that are no frame would otherwise write lines for
    // every read.
    const bool noise = !handled && (taken || client.noiseLimiter.burstGoingOn());
    const VelmoraNoiseLimiter::Decision decision = client.noiseLimiter.take(noise, length, clock.monotonicMs());
    read.logged = decision.logRead;
    if (decision.readsLeftOut > 0)
        read.leftOut = decision;
    // A read that completes no frame is kept too, for its day log line.
    decodedReads.append(read);
    if (!finishScheduled) {
        // Each durable write costs a disk flush, and each write of the day
        // log a system call; a hundred devices sending at once would
        // otherwise wait for a hundred of them, one after another.
        finishScheduled = true;
        QMetaObject::invokeMethod(this, &VelmoraReceivePass::finish, Qt::QueuedConnection);
    }
    return taken;
}

void VelmoraReceivePass::finish()
{
    finishScheduled = false;
    QVector<DecodedRead> reads = std::exchange(decodedReads, {});
    if (reads.isEmpty())
        return;
    // The pass's day log lines go to the file in one write.
    const VelmoraLogBatch logBatch;
    QVector<QString> heardDevices;
    QVector<SVelmoraMsg> restores;
    if (supervisor) {
        for (const DecodedRead &read : qAsConst(reads)) {
            for (const QString &deviceId : read.admittedDevices) {
                heardDevices << deviceId;
                // One restore, however many of the device's reads the pass
                // holds; absent devices are few.
                if (supervisor->isAbsent(deviceId)
                    && std::none_of(restores.cbegin(), restores.cend(),
                                    [&](const SVelmoraMsg &restore) { return restore.deviceId == deviceId; }))
                    restores << supervisor->restoreEvent(deviceId, clock.now(), read.peerAddress);
            }
        }
    }
    const bool journaled = journalEvents(reads, restores);
    if (supervisor) {
        if (journaled)
            supervisor->heard(heardDevices);
        // What the pass taught of new devices, MACs and restores is kept
        // before any device is acknowledged, in one write for the pass.
        supervisor->commit();
    }

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
        // A device's restore goes before the event of the frame it was
        // heard by.
        QVector<SVelmoraMsg> events = restores;
        for (const DecodedRead &read : qAsConst(reads)) {
            for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
                if (outcome.hasEvent)
                    events << outcome.event;
            }
        }
        if (!events.isEmpty())
            emit eventsSignal(events);
    }

    for (const DecodedRead &read : qAsConst(reads)) {
        if (read.leftOut.readsLeftOut > 0) {
            report(VelmoraReceiverReport::noiseLeftOut(read.peerAddress, read.peerPort, read.leftOut.readsLeftOut,
                                                       read.leftOut.bytesLeftOut));
        }
        if (read.logged && !read.receivedLine.isEmpty())
            VelmoraCommon_LogError(read.receivedLine);
        int withheld = 0;
        for (const SVelmoraFrameOutcome &outcome : read.outcomes) {
            if (read.logged) {
                for (const SVelmoraLogLine &line : VelmoraReceiverReport::frameLines(outcome, read.peerAddress,
                                                                                     read.peerPort))
                    report(line);
            }
            if (outcome.hasEvent && !journaled)
                ++withheld;
        }
        if (withheld > 0) {
            report(VelmoraReceiverReport::notJournaled(read.peerAddress, read.peerPort, withheld,
                                                       eventStore->errorString()));
        }
    }

    for (const DecodedRead &read : qAsConst(reads)) {
        if (read.refused && read.socket && read.socket->isOpen())
            emit connectionRefused(read.socket);
    }
}

void VelmoraReceivePass::admitFrames(const SVelmoraClient &client, DecodedRead &read)
{
    using Kind = SVelmoraFrameOutcome::Kind;
    for (SVelmoraFrameOutcome &outcome : read.outcomes) {
        if (!outcome.handled()
            || (outcome.kind != Kind::MacReply && outcome.kind != Kind::PeriodicTest && outcome.kind != Kind::Alarm))
            continue;
        if (!read.refused) {
            const QString deviceId = VelmoraFrame::toHexString(outcome.deviceId.data(), VelmoraFrame::kIdSize);
            const QString mac =
                outcome.macKnown ? VelmoraFrame::toHexString(outcome.mac.data(), VelmoraFrame::kMacSize) : QString();
            if (!supervisor->admit(deviceId, mac, client.peerAddress, client.peerPort).refused()) {
                if (!read.admittedDevices.contains(deviceId))
                    read.admittedDevices << deviceId;
                continue;
            }
            read.refused = true;
        }
        // Neither ACK nor event: the device keeps its events and repeats
        // them once it is admitted.
        outcome.reply.clear();
        outcome.hasEvent = false;
    }
}

bool VelmoraReceivePass::handOverReceiverEvents(QVector<SVelmoraMsg> &events, QString *reason)
{
    if (eventStore && !eventStore->appendDurably(events)) {
        *reason = eventStore->errorString();
        return false;
    }
    emit eventsSignal(events);
    return true;
}

bool VelmoraReceivePass::journalEvents(QVector<DecodedRead> &reads, QVector<SVelmoraMsg> &leading)
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
    if (events.isEmpty() && leading.isEmpty())
        return true;

    // Events beyond the backlog's limits are neither journaled nor
    // acknowledged: the devices keep them and send them again.
    QVector<SVelmoraLogLine> limitLines;
    const QVector<bool> admitted = backlogGuard.admit(events, *eventStore, &limitLines);
    const auto refusedByLimit = std::uint64_t(admitted.count(false));
    VelmoraMetrics::instance().backlogLimitHits.add(refusedByLimit);
    VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::BacklogLimit, refusedByLimit);
    for (const SVelmoraLogLine &line : qAsConst(limitLines))
        report(line);
    if (backlogGuard.anyInForce() && !backlogTimer->isActive())
        backlogTimer->start(backlogGuard.limits().recheckMs);
    QVector<SVelmoraMsg> accepted = leading;
    accepted.reserve(leading.size() + events.size());
    for (int index = 0; index < events.size(); ++index) {
        if (admitted.at(index))
            accepted << events.at(index);
    }
    if (!accepted.isEmpty() && !eventStore->appendDurably(accepted)) {
        VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::NotJournaled, accepted.size());
        return false;
    }
    // The events go on as journaled: with their ids and the form the store
    // made of them, which the serial side keeps instead of making it again.
    for (int index = 0; index < leading.size(); ++index)
        leading[index] = accepted.at(index);
    // A held-back event is no longer handed over nor acknowledged; its
    // frame's log lines stay as they were read.
    int next = 0;
    int nextAccepted = leading.size();
    for (DecodedRead &read : reads) {
        for (SVelmoraFrameOutcome &outcome : read.outcomes) {
            if (!outcome.hasEvent || next >= admitted.size())
                continue;
            if (admitted.at(next++)) {
                outcome.event = accepted.at(nextAccepted++);
            } else {
                outcome.hasEvent = false;
                outcome.reply.clear();
            }
        }
    }
    return true;
}

void VelmoraReceivePass::countFrames(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    using Kind = SVelmoraFrameOutcome::Kind;
    using Problem = SVelmoraFrameOutcome::Problem;
    VelmoraMetrics &metrics = VelmoraMetrics::instance();
    for (const SVelmoraFrameOutcome &outcome : outcomes) {
        if (outcome.handled())
            metrics.framesReceived.add();
        if (outcome.hasEvent)
            metrics.eventsReceived.add();
        if (outcome.problem == Problem::BadTail)
            metrics.refuseFrame(VelmoraMetrics::FrameRefusal::BadTail);
        else if (outcome.problem != Problem::None)
            metrics.refuseFrame(VelmoraMetrics::FrameRefusal::Malformed);
        else if (outcome.kind == Kind::OtherType)
            metrics.refuseFrame(VelmoraMetrics::FrameRefusal::UnknownType);
    }
}

void VelmoraReceivePass::recheckBacklog()
{
    QVector<SVelmoraLogLine> lines;
    if (eventStore)
        backlogGuard.recheck(*eventStore, &lines);
    for (const SVelmoraLogLine &line : qAsConst(lines))
        report(line);
    if (!eventStore || !backlogGuard.anyInForce())
        backlogTimer->stop();
}
