#include "velmorapgschema.h"

#include "velmorapgconnection.h"

#include <QByteArray>
#include <QString>

namespace {

// The steps that bring the schema from one version to the next, the first
// from nothing. A step is added at the end for each change and never edited
// afterwards: databases out there went through it as it was.
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
    // Version 2: what the active instance learned of each known device, so
    // that the one taking over knows their MACs and which absences it must
    // not report again but restore. Times in milliseconds since 1970 UTC,
    // 0 for "not yet"; mac empty until the device presented one.
    "CREATE TABLE lumari_devices ("
    "  device_id text PRIMARY KEY,"
    "  mac text NOT NULL DEFAULT '',"
    "  last_heard_ms bigint NOT NULL DEFAULT 0,"
    "  absence_reported boolean NOT NULL DEFAULT false,"
    "  absent_since_ms bigint NOT NULL DEFAULT 0);",
};
static_assert(sizeof(kSchemaSteps) / sizeof(kSchemaSteps[0]) == VelmoraPgSchema::kVersion,
              "one step per schema version");

// Any number that other programs on the same database are unlikely to take.
const char kSchemaLockKey[] = "7403170101";
constexpr qint64 kSchemaTimeoutMs = 30000;

} // namespace

bool VelmoraPgSchema::prepare(VelmoraPgConnection &connection, QString *error)
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
    if (version > kVersion) {
        connection.execScript("ROLLBACK", kSchemaTimeoutMs);
        *error = QStringLiteral("the database holds schema version %1, newer than this program's %2")
                     .arg(version)
                     .arg(kVersion);
        return false;
    }
    for (int step = version; step < kVersion; ++step) {
        result = connection.execScript(kSchemaSteps[step], kSchemaTimeoutMs);
        if (!result.ok)
            return fail(result);
    }
    if (version < kVersion) {
        result = connection.execScript((QByteArrayLiteral("DELETE FROM lumari_schema; INSERT INTO lumari_schema VALUES (")
                                        + QByteArray::number(kVersion) + ")")
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
