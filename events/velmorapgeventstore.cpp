#include "velmorapgeventstore.h"

#include "velmoraclock.h"
#include "velmoraeventcodec.h"
#include "velmorametrics.h"
#include "velmorapgconnection.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace {

// The steps that bring the schema from one version to the next, the first
// from nothing. A step is added at the end for each change and never edited
// afterwards: databases out there went through it as it was.
// The durable state of device supervision is to be the next step here.
const char *const kSchemaSteps[] = {
    // Version 1: the lease, one row; the events not yet delivered, state 0
    // pending and 1 set aside; sent_at set once its line went out.
    "CREATE TABLE lumari_lease ("
    "  id integer PRIMARY KEY CHECK (id = 1),"
    "  owner text NOT NULL DEFAULT '',"
    "  epoch bigint NOT NULL DEFAULT 0,"
    "  expires_at timestamptz NOT NULL DEFAULT '-infinity');"
    "INSERT INTO lumari_lease (id) VALUES (1);"
    "CREATE TABLE lumari_events ("
    "  id bigserial PRIMARY KEY,"
    "  device_id text NOT NULL,"
    "  state smallint NOT NULL DEFAULT 0,"
    "  received_at timestamptz NOT NULL DEFAULT clock_timestamp(),"
    "  sent_at timestamptz,"
    "  body bytea NOT NULL);",
};
static_assert(sizeof(kSchemaSteps) / sizeof(kSchemaSteps[0]) == VelmoraPgEventStore::kSchemaVersion,
              "one step per schema version");

// Any number that other programs on the same database are unlikely to take.
const char kSchemaLockKey[] = "7403170101";
constexpr qint64 kSchemaTimeoutMs = 30000;
// A mark the database did not take is tried again after this long.
constexpr int kMarkRetryMs = 1000;

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
      markConnection(std::make_unique<VelmoraPgConnection>(connection))
{
    markThread = std::thread(&VelmoraPgEventStore::writeMarks, this);
}

VelmoraPgEventStore::~VelmoraPgEventStore()
{
    // Marks made before an orderly end are worth a moment's wait: without
    // them the next active sends those events again.
    flushMarks(2000);
    {
        const std::lock_guard<std::mutex> locker(markMutex);
        stopping = true;
    }
    markWake.notify_all();
    markThread.join();
}

bool VelmoraPgEventStore::prepareSchema(VelmoraPgConnection &connection, QString *error)
{
    const auto fail = [&](const VelmoraPgConnection::Result &result) {
        *error = result.error;
        connection.execScript("ROLLBACK", kSchemaTimeoutMs);
        return false;
    };
    VelmoraPgConnection::Result result = connection.execScript(
        (QByteArrayLiteral("BEGIN; SELECT pg_advisory_xact_lock(") + kSchemaLockKey
         + "); CREATE TABLE IF NOT EXISTS lumari_schema (version integer NOT NULL);"
           " SELECT coalesce(max(version), 0) FROM lumari_schema")
            .constData(),
        kSchemaTimeoutMs);
    if (!result.ok || result.rows.size() != 1)
        return fail(result);
    const int version = result.rows.first().first().toInt();
    if (version > kSchemaVersion) {
        connection.execScript("ROLLBACK", kSchemaTimeoutMs);
        *error = QStringLiteral("the database holds schema version %1, newer than this program's %2")
                     .arg(version)
                     .arg(kSchemaVersion);
        return false;
    }
    for (int step = version; step < kSchemaVersion; ++step) {
        result = connection.execScript(kSchemaSteps[step], kSchemaTimeoutMs);
        if (!result.ok)
            return fail(result);
    }
    if (version < kSchemaVersion) {
        result = connection.execScript((QByteArrayLiteral("DELETE FROM lumari_schema; INSERT INTO lumari_schema VALUES (")
                                        + QByteArray::number(kSchemaVersion) + ")")
                                           .constData(),
                                       kSchemaTimeoutMs);
        if (!result.ok)
            return fail(result);
    }
    result = connection.execScript("COMMIT", kSchemaTimeoutMs);
    if (!result.ok) {
        *error = result.error;
        return false;
    }
    return true;
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
    queueMark(Mark::Sent, journalId);
}

// The copy changes only where the mark fits the event's state there; the
// mark goes to the database either way, where the statement checks the
// state itself: a line that went out before this instance was fenced is
// still marked delivered, so that the next active does not send it again.
void VelmoraPgEventStore::markDelivered(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end())
            removeLocked(found);
    }
    queueMark(Mark::Delivered, journalId);
}

void VelmoraPgEventStore::markRefused(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::Pending)
            setStateLocked(found->second, State::SetAside);
    }
    queueMark(Mark::Refused, journalId);
}

void VelmoraPgEventStore::markRequeued(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::SetAside)
            setStateLocked(found->second, State::Pending);
    }
    queueMark(Mark::Requeued, journalId);
}

void VelmoraPgEventStore::markReleased(qint64 journalId)
{
    {
        const std::lock_guard<std::mutex> locker(heldMutex);
        const auto found = held.find(journalId);
        if (found != held.end() && found->second.state == State::SetAside)
            removeLocked(found);
    }
    queueMark(Mark::Released, journalId);
}

void VelmoraPgEventStore::queueMark(Mark mark, qint64 journalId)
{
    if (journalId == 0)
        return;
    {
        const std::lock_guard<std::mutex> locker(markMutex);
        marks.push_back({mark, journalId});
    }
    markWake.notify_one();
}

bool VelmoraPgEventStore::flushMarks(qint64 timeoutMs)
{
    std::unique_lock<std::mutex> locker(markMutex);
    return marksWritten.wait_for(locker, std::chrono::milliseconds(timeoutMs),
                                 [this] { return marks.empty() && !markWriting; });
}

void VelmoraPgEventStore::writeMarks()
{
    std::unique_lock<std::mutex> locker(markMutex);
    for (;;) {
        markWake.wait(locker, [this] { return stopping || !marks.empty(); });
        if (stopping)
            return;
        std::deque<QueuedMark> batch;
        batch.swap(marks);
        markWriting = true;
        locker.unlock();

        // Consecutive marks of one kind go in one statement; the order of
        // the kinds is kept, so a requeue is never written after the
        // delivery that followed it.
        QString error;
        size_t written = 0;
        while (written < batch.size()) {
            size_t end = written;
            QVector<QByteArray> ids;
            while (end < batch.size() && batch[end].mark == batch[written].mark)
                ids.append(QByteArray::number(batch[end++].journalId));
            if (!writeMarkRun(batch[written].mark, ids, &error))
                break;
            written = end;
        }

        // Told without the marks' lock, which the workers take.
        if (written < batch.size())
            noteDatabase(false, error);
        else
            noteDatabase(true, QString());
        locker.lock();
        markWriting = false;
        if (written < batch.size()) {
            // Back at the front, ahead of marks made meanwhile.
            marks.insert(marks.begin(), batch.begin() + static_cast<std::ptrdiff_t>(written), batch.end());
            markWake.wait_for(locker, std::chrono::milliseconds(kMarkRetryMs), [this] { return stopping; });
            continue;
        }
        if (marks.empty())
            marksWritten.notify_all();
    }
}

bool VelmoraPgEventStore::writeMarkRun(Mark mark, const QVector<QByteArray> &ids, QString *error)
{
    const char *sql = nullptr;
    switch (mark) {
    case Mark::Sent:
        sql = "UPDATE lumari_events SET sent_at = clock_timestamp() WHERE id = ANY($1::bigint[]) AND sent_at IS NULL";
        break;
    case Mark::Delivered:
        sql = "DELETE FROM lumari_events WHERE id = ANY($1::bigint[])";
        break;
    case Mark::Refused:
        sql = "UPDATE lumari_events SET state = 1 WHERE id = ANY($1::bigint[]) AND state = 0";
        break;
    case Mark::Requeued:
        sql = "UPDATE lumari_events SET state = 0 WHERE id = ANY($1::bigint[]) AND state = 1";
        break;
    case Mark::Released:
        sql = "DELETE FROM lumari_events WHERE id = ANY($1::bigint[]) AND state = 1";
        break;
    }
    const VelmoraPgConnection::Result result =
        markConnection->exec(sql, {VelmoraPgConnection::arrayText(ids)}, kAppendTimeoutMs);
    if (!result.ok) {
        *error = result.error;
        return false;
    }
    error->clear();
    return true;
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
