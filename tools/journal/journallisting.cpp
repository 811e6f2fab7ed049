#include "journallisting.h"

#include "velmoraeventjournal.h"
#include "velmoraeventjournalrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

namespace {

using Record = VelmoraEventJournalRecord;

const char kSpoolDirectory[] = "spool";
// Enough for the largest record, so that scan() can always go on.
constexpr qint64 kChunkSize = 4 * 1024 * 1024;
static_assert(kChunkSize > Record::kFrameSize + static_cast<qint64>(Record::kMaxPayloadSize),
              "a chunk must hold the largest record");

// True when bytes could be the start of a record still being written: the
// marker, or as much of it as there is, and no more than one record.
bool looksLikeUnfinishedRecord(const QByteArray &bytes)
{
    static const QByteArray marker = Record::encode(Record()).left(Record::kMarkerSize);
    if (bytes.isEmpty() || bytes.size() >= Record::kFrameSize + static_cast<qint64>(Record::kMaxPayloadSize))
        return false;
    const int compared = std::min(bytes.size(), marker.size());
    return bytes.left(compared) == marker.left(compared);
}

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
    const auto take = [&](const Record::Found &found) {
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
        const qint64 wanted = std::min(kChunkSize, listing.fileSize - readEnd);
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

    qint64 tail = listing.fileSize - progress.validEnd;
    if (tail > 0) {
        file.seek(progress.validEnd);
        if (!looksLikeUnfinishedRecord(file.read(tail)))
            tail = 0;
    }
    listing.unfinishedTailBytes = tail;
    listing.damagedBytes = progress.skippedBytes - tail;
    if (listing.damagedBytes > 0) {
        listing.outcome = Outcome::Damaged;
        listing.problem = QStringLiteral("the event journal %1 is damaged: %2 of its %3 bytes belong to no intact record")
                              .arg(QDir::toNativeSeparators(listing.filePath))
                              .arg(listing.damagedBytes)
                              .arg(listing.fileSize);
    }
    return listing;
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
