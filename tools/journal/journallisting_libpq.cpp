#include "journallisting.h"

#include "velmoraeventcodec.h"
#include "velmorapgconnection.h"

#include <QRegularExpression>

namespace {

// The program's own reading at a takeover, without its lease: state 0
// pending, 1 set aside.
const char kEventsSql[] = "SELECT id, state, body FROM lumari_events ORDER BY id";
const char kJournalThereSql[] = "SELECT to_regclass('lumari_events') IS NOT NULL";
constexpr qint64 kQueryTimeoutMs = 30000;

QString withoutPassword(const QString &connectionString)
{
    QString shown = connectionString;
    shown.replace(QRegularExpression(QStringLiteral("(password\\s*=\\s*)('[^']*'|\\S+)")), QStringLiteral("\\1***"));
    shown.replace(QRegularExpression(QStringLiteral("^(postgres(?:ql)?://[^:@/]*:)[^@/]*@")), QStringLiteral("\\1***@"));
    return shown;
}

} // namespace

JournalListing JournalListing::readDatabase(const QString &connectionString)
{
    JournalListing listing;
    listing.inDatabase = true;
    listing.filePath = withoutPassword(connectionString);
    QString error;
    if (!VelmoraPgConnection::checkConnectionString(connectionString, &error)) {
        listing.outcome = Outcome::Unreadable;
        listing.problem = QStringLiteral("can not read the event journal in PostgreSQL: %1").arg(error);
        return listing;
    }
    VelmoraPgConnection connection(connectionString);
    const VelmoraPgConnection::Result there = connection.exec(kJournalThereSql, {}, kQueryTimeoutMs);
    if (there.ok && there.rows.value(0).value(0) != "t") {
        listing.outcome = Outcome::Missing;
        listing.problem = QStringLiteral("no event journal in the database %1").arg(listing.filePath);
        return listing;
    }
    const VelmoraPgConnection::Result result =
        there.ok ? connection.exec(kEventsSql, {}, kQueryTimeoutMs) : there;
    if (!result.ok) {
        listing.outcome = Outcome::Unreadable;
        listing.problem = QStringLiteral("can not read the event journal in PostgreSQL %1: %2")
                              .arg(listing.filePath, result.error);
        return listing;
    }
    for (const QVector<QByteArray> &row : result.rows) {
        Entry entry;
        entry.journalId = row.value(0).toLongLong();
        entry.state = row.value(1) == "1" ? State::SetAside : State::Pending;
        entry.event = VelmoraEventCodec::decode(VelmoraPgConnection::fromByteaText(row.value(2)));
        entry.event.journalId = entry.journalId;
        listing.entries.append(entry);
    }
    return listing;
}
