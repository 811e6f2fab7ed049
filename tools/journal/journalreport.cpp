#include "journalreport.h"

#include "journallisting.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <array>

namespace JournalReport {

namespace {

using State = JournalListing::State;

constexpr std::array<State, 4> kStates = {State::Pending, State::SetAside, State::Delivered, State::Released};

// The columns of every format, in order.
const QStringList kColumns = {
    QStringLiteral("journal_id"), QStringLiteral("state"),   QStringLiteral("received"),
    QStringLiteral("device_id"),  QStringLiteral("account"), QStringLiteral("event"),
    QStringLiteral("group"),      QStringLiteral("zone"),    QStringLiteral("message_type"),
    QStringLiteral("time"),
};

QString receivedText(const QDateTime &receivedAt, bool local)
{
    if (!receivedAt.isValid())
        return QString();
    if (local)
        return receivedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return receivedAt.toUTC().toString(Qt::ISODateWithMs);
}

QStringList fieldsOf(const JournalListing::Entry &entry, bool localTime)
{
    const SVelmoraMsg &event = entry.event;
    return {QString::number(entry.journalId), JournalListing::stateName(entry.state),
            receivedText(event.receivedAt, localTime), event.deviceId, event.account, event.event,
            event.group, event.zone, event.messageType, event.time};
}

QString csvField(const QString &field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"'))
        && !field.contains(QLatin1Char('\n')) && !field.contains(QLatin1Char('\r'))) {
        return field;
    }
    QString quoted = field;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString csvRow(const QStringList &fields)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString &field : fields)
        quoted << csvField(field);
    return quoted.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString renderCsv(const JournalListing &listing)
{
    QString out = csvRow(kColumns);
    for (const JournalListing::Entry &entry : listing.entries)
        out += csvRow(fieldsOf(entry, false));
    return out;
}

QString countsLine(const JournalListing &listing)
{
    return QStringLiteral("%1 event(s): %2 pending, %3 set aside, %4 delivered and %5 released, not yet "
                          "compacted.")
        .arg(listing.entries.size())
        .arg(listing.count(State::Pending))
        .arg(listing.count(State::SetAside))
        .arg(listing.count(State::Delivered))
        .arg(listing.count(State::Released));
}

QString renderText(const JournalListing &listing)
{
    QString out = listing.inDatabase ? QStringLiteral("Journal in PostgreSQL %1\n").arg(listing.filePath)
                                     : QStringLiteral("Journal %1 (%2 bytes)\n")
                                           .arg(QDir::toNativeSeparators(listing.filePath))
                                           .arg(listing.fileSize);
    if (!listing.entries.isEmpty()) {
        QVector<QStringList> rows;
        rows << kColumns;
        for (const JournalListing::Entry &entry : listing.entries)
            rows << fieldsOf(entry, true);
        QVector<int> widths(kColumns.size(), 0);
        for (const QStringList &row : qAsConst(rows)) {
            for (int column = 0; column < row.size(); ++column)
                widths[column] = std::max(widths.at(column), row.at(column).size());
        }
        for (const QStringList &row : qAsConst(rows)) {
            QString line;
            for (int column = 0; column < row.size(); ++column) {
                if (column > 0)
                    line += QLatin1String("  ");
                line += column + 1 < row.size() ? row.at(column).leftJustified(widths.at(column)) : row.at(column);
            }
            out += line + QLatin1Char('\n');
        }
    }
    out += countsLine(listing) + QLatin1Char('\n');
    if (listing.damagedRecords > 0)
        out += QStringLiteral("%1 record(s) damaged or cut, not read.\n").arg(listing.damagedRecords);
    if (listing.unfinishedTailBytes > 0) {
        out += QStringLiteral("The last %1 byte(s) are a record not yet complete (being written, or torn), not read.\n")
                   .arg(listing.unfinishedTailBytes);
    }
    return out;
}

QString renderJson(const JournalListing &listing)
{
    QJsonObject counts;
    for (State state : kStates)
        counts.insert(JournalListing::stateName(state), listing.count(state));
    counts.insert(QStringLiteral("total"), listing.entries.size());

    QJsonArray events;
    for (const JournalListing::Entry &entry : listing.entries) {
        const QStringList fields = fieldsOf(entry, false);
        QJsonObject object;
        object.insert(kColumns.at(0), static_cast<double>(entry.journalId));
        for (int column = 1; column < kColumns.size(); ++column)
            object.insert(kColumns.at(column), fields.at(column));
        events.append(object);
    }

    QJsonObject root;
    root.insert(QStringLiteral("journal"), QDir::toNativeSeparators(listing.filePath));
    root.insert(QStringLiteral("file_size"), static_cast<double>(listing.fileSize));
    root.insert(QStringLiteral("unfinished_tail_bytes"), static_cast<double>(listing.unfinishedTailBytes));
    root.insert(QStringLiteral("damaged_bytes"), static_cast<double>(listing.damagedBytes));
    root.insert(QStringLiteral("damaged_records"), listing.damagedRecords);
    root.insert(QStringLiteral("counts"), counts);
    root.insert(QStringLiteral("events"), events);
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Indented));
}

} // namespace

bool formatFromName(const QString &name, Format *format)
{
    if (name == QLatin1String("text"))
        *format = Format::Text;
    else if (name == QLatin1String("csv"))
        *format = Format::Csv;
    else if (name == QLatin1String("json"))
        *format = Format::Json;
    else
        return false;
    return true;
}

QString render(const JournalListing &listing, Format format)
{
    switch (format) {
    case Format::Text:
        return renderText(listing);
    case Format::Csv:
        return renderCsv(listing);
    case Format::Json:
        return renderJson(listing);
    }
    return QString();
}

} // namespace JournalReport
