#include "journallisting.h"

#include "velmoraeventjournal.h"
#include "velmoraeventjournalrecord.h"
#include "velmorajournaldamage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringList>

#include <algorithm>

namespace {

using Record = VelmoraEventJournalRecord;

const char kSpoolDirectory[] = "spool";

} // namespace

QString JournalListing::journalFileFor(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return path;
    const QDir directory(path);
    if (QFileInfo::exists(directory.filePath(VelmoraEventJournal::kFileName)))
        return directory.filePath(VelmoraEventJournal::kFileName);
    return directory.filePath(QLatin1String(kSpoolDirectory) + QLatin1Char('/') + VelmoraEventJournal::kFileName);
}

JournalListing JournalListing::read(const QString &path)
{
    JournalListing listing;
    listing.filePath = journalFileFor(path);
    const QFileInfo info(listing.filePath);
    if (!info.exists()) {
        listing.outcome = Outcome::Missing;
        listing.problem = QStringLiteral("no event journal at %1").arg(QDir::toNativeSeparators(listing.filePath));
        return listing;
    }
    QFile file(listing.filePath);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        listing.outcome = Outcome::Unreadable;
        listing.problem = QStringLiteral("can not read the event journal %1: %2")
                              .arg(QDir::toNativeSeparators(listing.filePath),
                                   info.isDir() ? QStringLiteral("it is a directory") : file.errorString());
        return listing;
    }
    listing.fileSize = file.size();

    // The same reading of the records as the journal's own at start-up: an
    // event is pending until a delivered mark settles it; a refused mark
    // sets a pending event aside; the operator's answers release a set-aside
    // event or make it pending again.
    QHash<qint64, int> indexOf;
    VelmoraJournalDamage damage;
    const auto take = [&](const Record::Found &found) {
        damage.noteRecord(found.offset, found.size);
        switch (found.type) {
        case Record::Type::Event: {
            Entry entry;
            entry.journalId = found.journalId;
            entry.event = Record::eventOf(found.bytes, found.size);
            entry.event.journalId = found.journalId;
            const auto known = indexOf.constFind(found.journalId);
            if (known != indexOf.constEnd()) {
                // Only a file put together by hand repeats an id; the later
                // record counts.
                listing.entries[known.value()] = entry;
            } else {
                indexOf.insert(found.journalId, listing.entries.size());
                listing.entries.append(entry);
            }
            break;
        }
        case Record::Type::Delivered:
        case Record::Type::Refused:
        case Record::Type::Released:
        case Record::Type::Requeued: {
            const auto known = indexOf.constFind(found.journalId);
            if (known == indexOf.constEnd())
                break;
            Entry &entry = listing.entries[known.value()];
            if (found.type == Record::Type::Delivered && entry.state != State::Released)
                entry.state = State::Delivered;
            else if (found.type == Record::Type::Refused && entry.state == State::Pending)
                entry.state = State::SetAside;
            else if (found.type == Record::Type::Released && entry.state == State::SetAside)
                entry.state = State::Released;
            else if (found.type == Record::Type::Requeued && entry.state == State::SetAside)
                entry.state = State::Pending;
            break;
        }
        default:
            // The header, and kinds this reader does not know.
            break;
        }
    };

    Record::Scan progress;
    QByteArray buffer;
    qint64 base = 0;
    qint64 readEnd = 0;
    bool atEnd = listing.fileSize == 0;
    while (!atEnd) {
        const qint64 wanted = std::min<qint64>(Record::kChunkSize, listing.fileSize - readEnd);
        const QByteArray chunk = file.read(wanted);
        if (chunk.isEmpty() && file.error() != QFileDevice::NoError) {
            listing.outcome = Outcome::Unreadable;
            listing.problem = QStringLiteral("can not read the event journal %1: %2")
                                  .arg(QDir::toNativeSeparators(listing.filePath), file.errorString());
            return listing;
        }
        readEnd += chunk.size();
        // Only as far as the file reached when it was opened; a file that
        // shrank meanwhile was replaced by a compaction and ends here too.
        atEnd = readEnd >= listing.fileSize || chunk.size() < wanted;
        buffer.append(chunk);
        const qint64 done = Record::scan(buffer.constData(), buffer.size(), base, atEnd, progress, take);
        buffer.remove(0, static_cast<int>(done));
        base += done;
        if (atEnd)
            listing.fileSize = readEnd;
    }
    std::sort(listing.entries.begin(), listing.entries.end(),
              [](const Entry &a, const Entry &b) { return a.journalId < b.journalId; });

    // Counted the way the program counts at start, so that both report
    // the same damage; the bytes of no record are read a second time.
    const auto countRange = [&](qint64 start, qint64 end, bool tail) {
        file.seek(start);
        const QByteArray bytes = file.read(end - start);
        if (tail)
            damage.countTail(start, bytes);
        else
            damage.countGap(start, bytes);
    };
    for (const VelmoraJournalDamage::Gap &gap : damage.gaps())
        countRange(gap.start, gap.end, false);
    countRange(damage.intactEnd(), listing.fileSize, true);
    listing.unfinishedTailBytes = damage.tornTailBytes();
    listing.damagedBytes = damage.bytes();
    listing.damagedRecords = damage.records();
    listing.damagedOffsets = damage.offsets();
    if (listing.damagedRecords > 0) {
        QStringList offsets;
        for (const qint64 offset : qAsConst(listing.damagedOffsets))
            offsets << QString::number(offset);
        if (listing.damagedRecords > offsets.size())
            offsets << QStringLiteral("...");
        listing.outcome = Outcome::Damaged;
        listing.problem = QStringLiteral("the event journal %1 is damaged: %2 record(s) could not be read, at "
                                         "offset(s) %3; %4 of its %5 bytes belong to no intact record")
                              .arg(QDir::toNativeSeparators(listing.filePath))
                              .arg(listing.damagedRecords)
                              .arg(offsets.join(QStringLiteral(", ")))
                              .arg(listing.damagedBytes)
                              .arg(listing.fileSize);
    }
    return listing;
}

bool JournalListing::isConnectionString(const QString &argument)
{
    if (argument.startsWith(QLatin1String("postgresql://")) || argument.startsWith(QLatin1String("postgres://")))
        return true;
    return argument.contains(QLatin1Char('=')) && !QFileInfo::exists(argument);
}

QString JournalListing::stateName(State state)
{
    switch (state) {
    case State::Pending:
        return QStringLiteral("pending");
    case State::SetAside:
        return QStringLiteral("set-aside");
    case State::Delivered:
        return QStringLiteral("delivered");
    case State::Released:
        return QStringLiteral("released");
    }
    return QString();
}

int JournalListing::count(State state) const
{
    return static_cast<int>(std::count_if(entries.cbegin(), entries.cend(),
                                          [state](const Entry &entry) { return entry.state == state; }));
}
