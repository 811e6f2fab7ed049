#include "velmorapgeventstore.h"

#include "velmoraclock.h"
#include "velmoraeventcodec.h"
#include "velmorametrics.h"
#include "velmorapgconnection.h"
#include "velmorapgmarkwriter.h"
#include "velmorapgschema.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

constexpr qint64 kDeliveryCommitWaitMs = 1000;

const char kAppendSql[] =
    "WITH lease AS (SELECT 1 FROM lumari_lease"
    "  WHERE id = 1 AND owner = $1 AND epoch = $2 AND expires_at > clock_timestamp() FOR SHARE)"
    " INSERT INTO lumari_events (device_id, body)"
    " SELECT e.device_id, decode(e.body, 'hex')"
    "  FROM unnest($3::text[], $4::text[]) WITH ORDINALITY AS e(device_id, body, n)"
    "  WHERE EXISTS (SELECT 1 FROM lease) ORDER BY e.n"
    " RETURNING id";

const char kLoadSql[] = "SELECT id, state, sent_at IS NOT NULL, body FROM lumari_events ORDER BY id";

qint64 steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

VelmoraPgEventStore::VelmoraPgEventStore(const QString &connection, const QString &owner, VelmoraClock &clockToUse)
    : connectionString(connection),
      ownerName(owner),
      clock(clockToUse),
      appendConnection(std::make_unique<VelmoraPgConnection>(connection)),
      markWriter(std::make_unique<VelmoraPgMarkWriter>(
          connection, [this](bool answered, const QString &reason) { noteDatabase(answered, reason); }))
{
}

VelmoraPgEventStore::~VelmoraPgEventStore()
{
    // The writer's last batch still tells noteDatabase(), so it ends while
    // the rest of the store is whole.
    markWriter.reset();
}

bool VelmoraPgEventStore::prepareSchema(VelmoraPgConnection &connection, QString *error)
{
    return VelmoraPgSchema::prepare(connection, error);
}

void VelmoraPgEventStore::grantLease(qint64 epoch, qint64 trustedUntilMs)
{
    leaseTrustedUntil.store(trustedUntilMs);
    leaseEpoch.store(epoch);
}

void VelmoraPgEventStore::dropLease()
{
    leaseEpoch.store(0);
    leaseTrustedUntil.store(0);
}

bool VelmoraPgEventStore::holdsLease() const
{
    return leaseEpoch.load() != 0 && clock.monotonicMs() < leaseTrustedUntil.load();
}

void VelmoraPgEventStore::setReport(Report function)
{
    const std::lock_guard<std::mutex> locker(reportMutex);
    report = std::move(function);
}

void VelmoraPgEventStore::noteDatabase(bool answered, const QString &reason)
{
    const std::lock_guard<std::mutex> locker(reportMutex);
    VelmoraMetrics::instance().journalWritable.set(answered ? 1 : 0);
    if (databaseLost == !answered)
        return;
    databaseLost = !answered;
    if (report)
        report(databaseLost, reason);
}

bool VelmoraPgEventStore::appendDurably(QVector<SVelmoraMsg> &events)
{
    const qint64 epoch = leaseEpoch.load();
    if (!holdsLease()) {
        const std::lock_guard<std::mutex> locker(heldMutex);
        lastError = QStringLiteral("this instance does not hold the journal's lease");
        return false;
    }
    if (events.isEmpty())
        return true;

    QVector<QByteArray> deviceIds;
    QVector<QByteArray> bodies;
    QVector<QByteArray> encoded;
    deviceIds.reserve(events.size());
    bodies.reserve(events.size());
    encoded.reserve(events.size());
    for (const SVelmoraMsg &event : qAsConst(events)) {
        encoded.append(VelmoraEventCodec::encode(event));
        deviceIds.append(event.deviceId.toUtf8());
        bodies.append(encoded.last().toHex());
    }
    const QVector<QByteArray> params = {ownerName.toUtf8(), QByteArray::number(epoch),
                                        VelmoraPgConnection::arrayText(deviceIds),
                                        VelmoraPgConnection::arrayText(bodies)};
    // No longer than the lease is trusted: a commit answered after that
    // could not be acknowledged anyway.
    const qint64 timeoutMs = qMin(kAppendTimeoutMs, leaseTrustedUntil.load() - clock.monotonicMs());
    VelmoraPgConnection::Result result;
    {
        const std::lock_guard<std::mutex> locker(appendMutex);
        // An event is refused only when the database does not take it, not
        // for a connection it ended while no event came.
        appendConnection->closeIfEndedByServer();
        result = appendConnection->exec(kAppendSql, params, qMax<qint64>(1, timeoutMs));
    }
    if (!result.ok) {
        {
            const std::lock_guard<std::mutex> locker(heldMutex);
            lastError = result.error;
        }
        noteDatabase(false, result.error);
        return false;
    }
    noteDatabase(true, QString());
    if (result.rows.size() != events.size() || !holdsLease()) {
        const std::lock_guard<std::mutex> locker(heldMutex);
        lastError = QStringLiteral("the journal's lease was lost while the events were written");
        return false;
    }
    // Ids are handed out in the order the rows were inserted.
    QVector<qint64> ids;
    ids.reserve(result.rows.size());
    for (const QVector<QByteArray> &row : qAsConst(result.rows))
        ids.append(row.first().toLongLong());
    std::sort(ids.begin(), ids.end());

    const std::lock_guard<std::mutex> locker(heldMutex);
    for (int index = 0; index < events.size(); ++index) {
        events[index].journalId = ids.at(index);
        events[index].encoded = encoded.at(index);
        events[index].encodedStart = 0;
        addLocked(ids.at(index), {encoded.at(index), events.at(index).deviceId, State::Pending});
    }
    VelmoraMetrics::instance().eventsJournaled.add(std::uint64_t(events.size()));
    return true;
}

QString VelmoraPgEventStore::errorString() const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    return lastError;
}

bool VelmoraPgEventStore::loadHeld(int *sentBefore, qint64 timeoutMs)
{
    const qint64 deadline = steadyMs() + timeoutMs;
    // This instance's marks from before it was fenced first, or the events
    // it delivered then would be loaded as pending.
    if (!flushMarks(timeoutMs)) {
        const std::lock_guard<std::mutex> locker(heldMutex);
        lastError = QStringLiteral("the marks of delivered events could not be written");
        return false;
    }
    VelmoraPgConnection::Result result;
    {
        const std::lock_guard<std::mutex> locker(appendMutex);
        // Idle since before the database was restarted, perhaps: a takeover
        // must not fail on that.
        appendConnection->closeIfEndedByServer();
        result = appendConnection->exec(kLoadSql, {}, qMax<qint64>(1, deadline - steadyMs()));
    }
    if (!result.ok) {
        const std::lock_guard<std::mutex> locker(heldMutex);
        lastError = result.error;
        return false;
    }
    *sentBefore = 0;
    const std::lock_guard<std::mutex> locker(heldMutex);
    held.clear();
    pendingPerDevice.clear();
    pendingTotal = 0;
    setAsideTotal = 0;
    for (const QVector<QByteArray> &row : qAsConst(result.rows)) {
        HeldEvent event;
        event.body = VelmoraPgConnection::fromByteaText(row.at(3));
        event.deviceId = VelmoraEventCodec::decode(event.body).deviceId;
        event.state = row.at(1).toInt() == 1 ? State::SetAside : State::Pending;
        if (event.state == State::Pending && row.at(2) == "t")
            ++*sentBefore;
        addLocked(row.at(0).toLongLong(), std::move(event));
    }
    return true;
}

void VelmoraPgEventStore::clearHeld()
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    held.clear();
    pendingPerDevice.clear();
    pendingTotal = 0;
    setAsideTotal = 0;
}

void VelmoraPgEventStore::addLocked(qint64 journalId, HeldEvent event)
{
    const State state = event.state;
    const auto inserted = held.emplace(journalId, std::move(event));
    if (!inserted.second)
        return;
    if (state == State::Pending) {
        ++pendingTotal;
        ++pendingPerDevice[inserted.first->second.deviceId];
    } else {
        ++setAsideTotal;
    }
}

void VelmoraPgEventStore::setStateLocked(HeldEvent &event, State state)
{
    if (event.state == state)
        return;
    const int change = state == State::Pending ? 1 : -1;
    pendingTotal += change;
    pendingPerDevice[event.deviceId] += change;
    setAsideTotal -= change;
    event.state = state;
}

void VelmoraPgEventStore::removeLocked(std::map<qint64, HeldEvent>::iterator found)
{
    if (found->second.state == State::Pending) {
        --pendingTotal;
        if (--pendingPerDevice[found->second.deviceId] == 0)
            pendingPerDevice.remove(found->second.deviceId);
    } else {
        --setAsideTotal;
    }
    held.erase(found);
}

void VelmoraPgEventStore::markSent(qint64 journalId)
{
    markWriter->queue(Mark::Sent, journalId);
}

// The copy changes only where the mark fits the event's state there; the
// mark goes to the database either way, where the statement checks the
// state itself: a line that went out before this instance was fenced is
// still marked delivered, so that the next active does not send it again.
// The line waits for its delivery to be committed before the next one goes
// out, as a write to the journal file would be there before the next line:
// an instance killed at any moment leaves at most the line in flight to be
// sent again by the next active. A database that does not answer holds the
// line no longer than kDeliveryCommitWaitMs a line; the lease ends the
// instance's turn soon after.
void VelmoraPgEventStore::markDelivered(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end())
            removeLocked(found);
    }
    markWriter->queue(Mark::Delivered, journalId);
    markWriter->flush(kDeliveryCommitWaitMs);
}

void VelmoraPgEventStore::markRefused(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::Pending)
            setStateLocked(found->second, State::SetAside);
    }
    markWriter->queue(Mark::Refused, journalId);
}

void VelmoraPgEventStore::markRequeued(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::SetAside)
            setStateLocked(found->second, State::Pending);
    }
    markWriter->queue(Mark::Requeued, journalId);
}

void VelmoraPgEventStore::markReleased(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::SetAside)
            removeLocked(found);
    }
    markWriter->queue(Mark::Released, journalId);
}

bool VelmoraPgEventStore::flushMarks(qint64 timeoutMs)
{
    return markWriter->flush(timeoutMs);
}

QVector<SVelmoraMsg> VelmoraPgEventStore::eventsLocked(State state) const
{
    QVector<SVelmoraMsg> events;
    events.reserve(state == State::Pending ? pendingTotal : setAsideTotal);
    for (const auto &entry : held) {
        if (entry.second.state != state)
            continue;
        events.append(VelmoraEventCodec::decode(entry.second.body));
        events.last().journalId = entry.first;
    }
    return events;
}

QVector<SVelmoraMsg> VelmoraPgEventStore::pendingEvents() const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    return eventsLocked(State::Pending);
}

QVector<SVelmoraMsg> VelmoraPgEventStore::setAsideEvents() const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    return eventsLocked(State::SetAside);
}

int VelmoraPgEventStore::pendingCount() const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    return pendingTotal;
}

int VelmoraPgEventStore::pendingCountForDevice(const QString &deviceId) const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    return pendingPerDevice.value(deviceId);
}

bool VelmoraPgEventStore::heldEvent(qint64 journalId, SVelmoraMsg *event) const
{
    const std::lock_guard<std::mutex> locker(heldMutex);
    const auto found = held.find(journalId);
    if (found == held.end())
        return false;
    *event = VelmoraEventCodec::decode(found->second.body);
    event->journalId = journalId;
    return true;
}
