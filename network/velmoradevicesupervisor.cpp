#include "velmoradevicesupervisor.h"

#include "velmoraclock.h"
#include "velmoradevicelistsource.h"
#include "velmoradevicereport.h"
#include "velmoradevicestore.h"
#include "velmoraknowndevicesview.h"
#include "velmorametrics.h"
#include "velmorapacketdecoder.h"

#include <QElapsedTimer>

#include <iterator>
#include <limits>
#include <utility>

namespace {

// A device whose absence could not be journaled is tried again this soon.
constexpr qint64 kRetryMs = 1000;
constexpr qint64 kMsPerSecond = 1000;

} // namespace

VelmoraDeviceSupervisor::VelmoraDeviceSupervisor(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse), checkTimer(new VelmoraTimer(clockToUse, this))
{
    listSource = new VelmoraDeviceListSource(this);
    connect(listSource, &VelmoraDeviceListSource::changedSignal, this, &VelmoraDeviceSupervisor::pollList);
    connect(checkTimer, &VelmoraTimer::timeout, this, &VelmoraDeviceSupervisor::check);
}

VelmoraDeviceSupervisor::~VelmoraDeviceSupervisor()
{
    // What was heard in the last second is kept too.
    keeper.flushHeard(std::numeric_limits<int>::max());
    commit();
}

void VelmoraDeviceSupervisor::setReporter(SVelmoraLogLine::Sink sink)
{
    reporter = std::move(sink);
    listSource->setReporter([this](const SVelmoraLogLine &line) { report(line); });
}

void VelmoraDeviceSupervisor::setStore(VelmoraDeviceStore *deviceStore)
{
    store = deviceStore;
    keeper.setStore(deviceStore);
}

void VelmoraDeviceSupervisor::setListPath(const QString &path)
{
    listSource->setPath(path);
}

void VelmoraDeviceSupervisor::setEventHandOver(EventHandOver eventHandOver)
{
    handOver = std::move(eventHandOver);
}

void VelmoraDeviceSupervisor::configure(bool listedOnly, int periodS)
{
    onlyListed = listedOnly;
    defaultPeriodS = periodS;
    if (periodS > 0 && periodS < 30)
        report(VelmoraDeviceReport::supervisionForTesting(periodS));
    if (!configured) {
        configured = true;
        if (store) {
            if (!store->open())
                report(VelmoraDeviceReport::stateNotSaved(store->errorString()));
            for (const SVelmoraDeviceState &state : store->devices()) {
                known[state.deviceId].state = state;
                absentDevices += state.absenceReported ? 1 : 0;
            }
        }
        listSource->watch();
        checkTimer->start(kCheckIntervalMs);
    }
    reloadList();
}

void VelmoraDeviceSupervisor::setListening(bool listen)
{
    if (listen && !listening)
        schedule.restartAll(clock.monotonicMs());
    listening = listen;
}

void VelmoraDeviceSupervisor::reloadList()
{
    list = listSource->read();
    listIndex.clear();
    for (int i = 0; i < list.rows.size(); ++i)
        listIndex.insert(list.rows.at(i).deviceId, i);
    for (auto device = known.begin(); device != known.end(); ++device)
        device->listRow = listIndex.value(device.key(), -1);

    // A device refused before may report now; its next repeat says.
    for (auto refusal = refusals.begin(); refusal != refusals.end();) {
        const int row = listIndex.value(refusal.key(), -1);
        const VelmoraDeviceAdmission::Decision now = VelmoraDeviceAdmission::decide(
            onlyListed, row >= 0 ? &list.rows.at(row) : nullptr, known.value(refusal.key()).state.mac,
            refusal->decision.presentedMac);
        refusal = now.refused() ? std::next(refusal) : refusals.erase(refusal);
    }
    reschedule();
}

void VelmoraDeviceSupervisor::pollList()
{
    listPolledAtMs = clock.monotonicMs();
    if (listSource->changedSinceRead())
        reloadList();
}

bool VelmoraDeviceSupervisor::supervises(const QString &deviceId) const
{
    return periodOf(deviceId) > 0 && (listIndex.contains(deviceId) || (!onlyListed && known.contains(deviceId)));
}

int VelmoraDeviceSupervisor::periodOf(const QString &deviceId) const
{
    const int row = listIndex.value(deviceId, -1);
    if (row < 0 || list.rows.at(row).supervisionS == SVelmoraDeviceListRow::kDefaultPeriod)
        return defaultPeriodS;
    return list.rows.at(row).supervisionS;
}

VelmoraDeviceSupervisor::KnownDevice &VelmoraDeviceSupervisor::recordOf(const QString &deviceId)
{
    auto found = known.find(deviceId);
    if (found == known.end()) {
        found = known.insert(deviceId, KnownDevice());
        found->state.deviceId = deviceId;
        found->listRow = listIndex.value(deviceId, -1);
    }
    return *found;
}

void VelmoraDeviceSupervisor::reschedule()
{
    const qint64 now = clock.monotonicMs();
    QSet<QString> candidates;
    for (const SVelmoraDeviceListRow &row : qAsConst(list.rows))
        candidates.insert(row.deviceId);
    for (auto state = known.cbegin(); state != known.cend(); ++state)
        candidates.insert(state.key());
    for (const QString &deviceId : qAsConst(candidates))
        schedule.setPeriod(deviceId, supervises(deviceId) ? periodOf(deviceId) * kMsPerSecond : 0, now);
}

VelmoraDeviceAdmission::Decision VelmoraDeviceSupervisor::admit(const QString &deviceId, const QString &presentedMac,
                                                                 const QString &peerAddress, quint16 peerPort)
{
    using Verdict = VelmoraDeviceAdmission::Verdict;
    const auto found = known.constFind(deviceId);
    const bool isNew = found == known.cend();
    const int row = isNew ? listIndex.value(deviceId, -1) : found->listRow;
    const QString learnedMac = isNew ? QString() : found->state.mac;
    const VelmoraDeviceAdmission::Decision decision = VelmoraDeviceAdmission::decide(
        onlyListed, row >= 0 ? &list.rows.at(row) : nullptr, learnedMac, presentedMac);
    if (decision.refused()) {
        Refusal &refusal = refusals[deviceId];
        const qint64 now = clock.monotonicMs();
        const bool sameReason = refusal.logged && refusal.decision.verdict == decision.verdict
            && refusal.decision.expectedMac == decision.expectedMac
            && refusal.decision.presentedMac == decision.presentedMac;
        refusal.decision = decision;
        if (!sameReason || now - refusal.loggedAtMs >= kRefusalReportMs) {
            refusal.logged = true;
            refusal.loggedAtMs = now;
            report(decision.verdict == Verdict::RefusedNotListed
                       ? VelmoraDeviceReport::refusedNotListed(deviceId, peerAddress, peerPort)
                       : VelmoraDeviceReport::refusedMacDiffers(deviceId, peerAddress, peerPort,
                                                                decision.expectedMac, presentedMac));
        }
        return decision;
    }
    if (!refusals.isEmpty())
        refusals.remove(deviceId);
    if (!isNew && decision.verdict == Verdict::Admitted)
        return decision;
    SVelmoraDeviceState state = isNew ? SVelmoraDeviceState() : found->state;
    state.deviceId = deviceId;
    if (decision.verdict == Verdict::AdmittedMacChanged)
        report(VelmoraDeviceReport::macChanged(deviceId, learnedMac, presentedMac));
    if (decision.verdict != Verdict::Admitted)
        state.mac = presentedMac;
    // A device is known from its first admitted frame on, and a MAC learned
    // pins it (with a listed one): both are kept before the device's ACK,
    // with the rest of the pass.
    markChanged(state, true);
    if (isNew && supervises(deviceId))
        schedule.setPeriod(deviceId, periodOf(deviceId) * kMsPerSecond, clock.monotonicMs());
    return decision;
}

bool VelmoraDeviceSupervisor::isAbsent(const QString &deviceId) const
{
    const auto found = known.constFind(deviceId);
    return found != known.cend() && found->state.absenceReported;
}

void VelmoraDeviceSupervisor::heard(const QVector<QString> &deviceIds)
{
    const qint64 wall = clock.msecsSinceEpoch();
    const qint64 now = clock.monotonicMs();
    for (const QString &deviceId : deviceIds) {
        KnownDevice &device = recordOf(deviceId);
        device.heardMs = now;
        device.state.lastHeardAt = wall;
        if (device.state.absenceReported) {
            // Off the schedule since its absence was reported.
            schedule.heard(deviceId, now);
            SVelmoraDeviceState state = device.state;
            state.absenceReported = false;
            state.absentSince = 0;
            markChanged(state, true);
            report(VelmoraDeviceReport::restored(deviceId));
            continue;
        }
        // Most frames end here: the device was heard lately and that is
        // kept already.
        if (wall - device.heardKeptAt >= kHeardKeptStepMs) {
            device.heardKeptAt = wall;
            markChanged(SVelmoraDeviceState(device.state), false);
        }
    }
}

void VelmoraDeviceSupervisor::markChanged(const SVelmoraDeviceState &state, bool durable)
{
    KnownDevice &device = recordOf(state.deviceId);
    absentDevices += int(state.absenceReported) - int(device.state.absenceReported);
    device.state = state;
    keeper.change(state, durable);
}

bool VelmoraDeviceSupervisor::commit()
{
    if (keeper.commit())
        return true;
    report(VelmoraDeviceReport::stateNotSaved(store->errorString()));
    return false;
}

void VelmoraDeviceSupervisor::check()
{
    QElapsedTimer cost;
    cost.start();
    runCheck();
    checkTimeUs += cost.nsecsElapsed() / 1000;
    ++checkCount;
}

void VelmoraDeviceSupervisor::runCheck()
{
    const qint64 now = clock.monotonicMs();
    if (now - listPolledAtMs >= kListPollMs)
        pollList();
    keeper.flushHeard(kHeardKeptPerCheck);
    commit();

    publishCounts();
    if (!listening)
        return;
    QVector<QString> absent;
    QVector<SVelmoraMsg> events;
    const QDateTime at = clock.now();
    for (const QString &deviceId : schedule.takeDue(now)) {
        const auto found = known.constFind(deviceId);
        // Heard since its deadline was set: due a period after that.
        const qint64 heardDeadline =
            found == known.cend() || found->heardMs < 0 ? -1 : found->heardMs + schedule.periodMs(deviceId);
        if (heardDeadline > now) {
            schedule.dueAgainAt(deviceId, heardDeadline);
            continue;
        }
        if (!supervises(deviceId)) {
            schedule.remove(deviceId);
            continue;
        }
        // A device whose absence was reported before stays off the order
        // until it is heard.
        if (found != known.cend() && found->state.absenceReported)
            continue;
        absent << deviceId;
        events << absenceEvent(deviceId, at);
    }
    if (events.isEmpty())
        return;
    QString reason;
    if (handOver && !handOver(events, &reason)) {
        for (const QString &deviceId : qAsConst(absent))
            schedule.dueAgainAt(deviceId, now + kRetryMs);
        report(VelmoraDeviceReport::absenceNotJournaled(absent.first(), reason));
        return;
    }
    const qint64 wall = clock.msecsSinceEpoch();
    for (const QString &deviceId : qAsConst(absent)) {
        SVelmoraDeviceState state = known.value(deviceId).state;
        state.deviceId = deviceId;
        state.absenceReported = true;
        state.absentSince = wall;
        markChanged(state, true);
        report(VelmoraDeviceReport::absent(deviceId, periodOf(deviceId)));
    }
    commit();
}

SVelmoraMsg VelmoraDeviceSupervisor::absenceEvent(const QString &deviceId, const QDateTime &at) const
{
    // On the account the device's periodic tests carry.
    return VelmoraPacketDecoder::deviceAccountEvent(deviceId, QLatin1String(kAbsenceEvent), at);
}

SVelmoraMsg VelmoraDeviceSupervisor::restoreEvent(const QString &deviceId, const QDateTime &at,
                                                  const QString &peerAddress) const
{
    SVelmoraMsg event = absenceEvent(deviceId, at);
    event.event = QLatin1String(kRestoreEvent);
    event.peerAddress = peerAddress;
    return event;
}

QVector<SVelmoraKnownDevice> VelmoraDeviceSupervisor::knownDevices() const
{
    VelmoraKnownDevicesView view;
    view.reserve(known.size() + refusals.size());
    for (const KnownDevice &device : known)
        view.addKnown(device.state);
    for (const SVelmoraDeviceListRow &row : list.rows)
        view.addListed(row);
    for (auto refusal = refusals.cbegin(); refusal != refusals.cend(); ++refusal)
        view.addRefused(refusal.key(), refusal->decision);
    return view.takeDevices([this](const QString &deviceId) { return supervises(deviceId) ? periodOf(deviceId) : 0; });
}

void VelmoraDeviceSupervisor::acceptPresentedMac(const QString &deviceId)
{
    const auto refusal = refusals.constFind(deviceId);
    if (refusal == refusals.cend() || refusal->decision.verdict != VelmoraDeviceAdmission::Verdict::RefusedMacDiffers)
        return;
    SVelmoraDeviceState state = known.value(deviceId).state;
    state.deviceId = deviceId;
    state.mac = refusal->decision.presentedMac;
    refusals.erase(refusal);
    markChanged(state, true);
    commit();
}

void VelmoraDeviceSupervisor::forget(const QString &deviceId)
{
    absentDevices -= isAbsent(deviceId) ? 1 : 0;
    known.remove(deviceId);
    refusals.remove(deviceId);
    keeper.forget(deviceId);
    schedule.remove(deviceId);
    if (store && !store->forget(deviceId))
        report(VelmoraDeviceReport::stateNotSaved(store->errorString()));
    // Still in the list: supervised from now on as a listed device.
    reschedule();
}

void VelmoraDeviceSupervisor::publishCounts()
{
    publishedAbsent = absentDevices;
    publishedRefused = refusals.size();
    VelmoraMetrics::instance().devicesAbsent.set(absentDevices);
    VelmoraMetrics::instance().devicesRefused.set(qint64(refusals.size()));
}

void VelmoraDeviceSupervisor::report(const SVelmoraLogLine &line) const
{
    if (reporter)
        reporter(line);
}
