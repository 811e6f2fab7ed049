#include "velmorapgdevicestore.h"

#include "velmorapgconnection.h"
#include "velmorasharedjournal.h"

namespace {

const char kLoadSql[] =
    "SELECT device_id, mac, last_heard_ms, absence_reported, absent_since_ms FROM lumari_devices";

// Both write statements answer with whether the lease was held (1 or 0)
// and how many rows they wrote.
const char kSaveSql[] =
    "WITH lease AS (SELECT 1 FROM lumari_lease"
    "  WHERE id = 1 AND owner = $1 AND epoch = $2 AND expires_at > clock_timestamp() FOR SHARE),"
    " saved AS (INSERT INTO lumari_devices (device_id, mac, last_heard_ms, absence_reported, absent_since_ms)"
    "  SELECT d.device_id, d.mac, d.heard, d.reported, d.since"
    "   FROM unnest($3::text[], $4::text[], $5::bigint[], $6::boolean[], $7::bigint[])"
    "    AS d(device_id, mac, heard, reported, since)"
    "   WHERE EXISTS (SELECT 1 FROM lease)"
    "  ON CONFLICT (device_id) DO UPDATE SET mac = excluded.mac, last_heard_ms = excluded.last_heard_ms,"
    "   absence_reported = excluded.absence_reported, absent_since_ms = excluded.absent_since_ms"
    "  RETURNING 1)"
    " SELECT (SELECT count(*) FROM lease), (SELECT count(*) FROM saved)";
const char kForgetSql[] =
    "WITH lease AS (SELECT 1 FROM lumari_lease"
    "  WHERE id = 1 AND owner = $1 AND epoch = $2 AND expires_at > clock_timestamp() FOR SHARE),"
    " gone AS (DELETE FROM lumari_devices WHERE device_id = $3 AND EXISTS (SELECT 1 FROM lease) RETURNING 1)"
    " SELECT (SELECT count(*) FROM lease), (SELECT count(*) FROM gone)";

const char kNoLease[] = "this instance does not hold the journal's lease";

} // namespace

VelmoraPgDeviceStore::VelmoraPgDeviceStore(const QString &connectionString, const VelmoraSharedJournal &sharedJournal)
    : journal(sharedJournal), connection(std::make_unique<VelmoraPgConnection>(connectionString))
{
}

VelmoraPgDeviceStore::~VelmoraPgDeviceStore() = default;

bool VelmoraPgDeviceStore::open()
{
    states.clear();
    const VelmoraPgConnection::Result result = connection->exec(kLoadSql, {}, kStatementTimeoutMs);
    if (!result.ok) {
        lastError = result.error;
        return false;
    }
    for (const QVector<QByteArray> &row : result.rows) {
        SVelmoraDeviceState state;
        state.deviceId = QString::fromUtf8(row.value(0));
        state.mac = QString::fromUtf8(row.value(1));
        state.lastHeardAt = row.value(2).toLongLong();
        state.absenceReported = row.value(3) == "t";
        state.absentSince = row.value(4).toLongLong();
        states.insert(state.deviceId, state);
    }
    return true;
}

QVector<SVelmoraDeviceState> VelmoraPgDeviceStore::devices() const
{
    QVector<SVelmoraDeviceState> all;
    all.reserve(states.size());
    for (const SVelmoraDeviceState &state : states)
        all << state;
    return all;
}

bool VelmoraPgDeviceStore::save(const QVector<SVelmoraDeviceState> &changed, bool)
{
    if (changed.isEmpty())
        return true;
    const qint64 epoch = journal.leaseEpoch();
    if (epoch == 0 || !journal.holdsLease()) {
        lastError = QLatin1String(kNoLease);
        return false;
    }
    QVector<QByteArray> ids, macs, heard, reported, since;
    for (const SVelmoraDeviceState &state : changed) {
        ids << state.deviceId.toUtf8();
        macs << state.mac.toUtf8();
        heard << QByteArray::number(state.lastHeardAt);
        reported << (state.absenceReported ? "t" : "f");
        since << QByteArray::number(state.absentSince);
    }
    const VelmoraPgConnection::Result result = connection->exec(
        kSaveSql,
        {journal.owner().toUtf8(), QByteArray::number(epoch), VelmoraPgConnection::arrayText(ids),
         VelmoraPgConnection::arrayText(macs), VelmoraPgConnection::arrayText(heard),
         VelmoraPgConnection::arrayText(reported), VelmoraPgConnection::arrayText(since)},
        kStatementTimeoutMs);
    if (!result.ok) {
        lastError = result.error;
        return false;
    }
    if (result.rows.value(0).value(0) != "1" || !journal.holdsLease()) {
        lastError = QLatin1String(kNoLease);
        return false;
    }
    for (const SVelmoraDeviceState &state : changed)
        states.insert(state.deviceId, state);
    return true;
}

bool VelmoraPgDeviceStore::forget(const QString &deviceId)
{
    const qint64 epoch = journal.leaseEpoch();
    if (epoch == 0 || !journal.holdsLease()) {
        lastError = QLatin1String(kNoLease);
        return false;
    }
    const VelmoraPgConnection::Result result =
        connection->exec(kForgetSql, {journal.owner().toUtf8(), QByteArray::number(epoch), deviceId.toUtf8()},
                         kStatementTimeoutMs);
    if (!result.ok) {
        lastError = result.error;
        return false;
    }
    if (result.rows.value(0).value(0) != "1") {
        lastError = QLatin1String(kNoLease);
        return false;
    }
    states.remove(deviceId);
    return true;
}
