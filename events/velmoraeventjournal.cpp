#include "velmoraeventjournal.h"

#include "velmoraeventjournalrecord.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

const QString VelmoraEventJournal::kFileName = QStringLiteral("events.journal");

namespace {

using Record = VelmoraEventJournalRecord;

// The compacted file is written here first and then renamed over the journal.
const QString kReplacementSuffix = QStringLiteral(".new");

QByteArray encodedRecord(Record::Type type, qint64 journalId, const SVelmoraMsg &event = SVelmoraMsg())
{
    Record record;
    record.type = type;
    record.journalId = journalId;
    record.event = event;
    return Record::encode(record);
}

} // namespace

VelmoraEventJournal::VelmoraEventJournal(const QString &directory)
    : directory(QDir::cleanPath(directory)),
      journalPath(QDir::cleanPath(directory) + QLatin1Char('/') + kFileName)
{
}

VelmoraEventJournal::~VelmoraEventJournal()
{
    const std::lock_guard<std::mutex> locker(mutex);
    // Marks are written without a flush of their own; an orderly end
    // flushes them so that nothing is delivered twice after it.
    if (file.isOpen() && marksUnflushed)
        file.sync();
}

bool VelmoraEventJournal::open()
{
    const std::lock_guard<std::mutex> locker(mutex);
    return openLocked();
}

bool VelmoraEventJournal::isOpen() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return file.isOpen();
}

bool VelmoraEventJournal::openLocked()
{
    if (file.isOpen())
        return true;

    const QFileInfo directoryInfo(directory);
    if (directoryInfo.exists() && !directoryInfo.isDir()) {
        lastError = QStringLiteral("Cannot use the spool directory %1: a file of that name is in the way")
                        .arg(directory);
        return false;
    }
    const bool directoryCreated = !directoryInfo.exists();
    if (!QDir().mkpath(directory)) {
        lastError = QStringLiteral("Cannot create the spool directory %1").arg(directory);
        return false;
    }
    // A flushed append to a file whose directory entry never reached the
    // disk would be lost with the entry, and so would a new directory's.
    if (directoryCreated
        && !DurableFile::syncDirectory(directoryInfo.absolutePath(), &lastError)) {
        return false;
    }

    const bool created = !QFileInfo::exists(journalPath);
    if (!file.open(journalPath)) {
        lastError = file.errorString();
        return false;
    }
    if (created && !DurableFile::syncDirectory(directory, &lastError)) {
        file.close();
        return false;
    }

    QByteArray contents;
    if (!file.readAll(&contents)) {
        lastError = file.errorString();
        file.close();
        return false;
    }
    const Record::Scan scan = Record::decode(contents);
    if (scan.validEnd < contents.size() && !(file.truncate(scan.validEnd) && file.sync())) {
        lastError = file.errorString();
        file.close();
        return false;
    }

    QMap<qint64, SVelmoraMsg> found;
    qint64 highestId = 0;
    for (const Record &record : scan.records) {
        switch (record.type) {
        case Record::Type::Header:
            highestId = qMax(highestId, record.journalId - 1);
            break;
        case Record::Type::Event:
            highestId = qMax(highestId, record.journalId);
            found.insert(record.journalId, record.event);
            found[record.journalId].journalId = record.journalId;
            break;
        case Record::Type::Delivered:
        case Record::Type::Refused:
            highestId = qMax(highestId, record.journalId);
            found.remove(record.journalId);
            break;
        }
    }
    // The file is opened again mid-run only when nothing was pending, so
    // what it holds is the whole truth; the ids already handed out in this
    // run stay used up.
    pending = found;
    nextJournalId = qMax(nextJournalId, highestId + 1);
    fileEnd = scan.validEnd;
    return true;
}

bool VelmoraEventJournal::appendDurably(QVector<SVelmoraMsg> &events)
{
    const std::lock_guard<std::mutex> locker(mutex);
    if (!openLocked())
        return false;
    if (events.isEmpty())
        return true;

    const qint64 firstId = nextJournalId;
    QByteArray batch;
    for (int index = 0; index < events.size(); ++index)
        batch += encodedRecord(Record::Type::Event, firstId + index, events.at(index));
    nextJournalId += events.size();

    if (!file.writeAt(fileEnd, batch) || !file.sync()) {
        lastError = file.errorString();
        discardTailLocked();
        return false;
    }
    fileEnd += batch.size();
    marksUnflushed = false;
    for (int index = 0; index < events.size(); ++index) {
        events[index].journalId = firstId + index;
        pending.insert(firstId + index, events.at(index));
    }
    return true;
}

QString VelmoraEventJournal::errorString() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return lastError;
}

void VelmoraEventJournal::markDelivered(qint64 journalId)
{
    const std::lock_guard<std::mutex> locker(mutex);
    markLocked(journalId, true);
}

void VelmoraEventJournal::markRefused(qint64 journalId)
{
    const std::lock_guard<std::mutex> locker(mutex);
    markLocked(journalId, false);
}

void VelmoraEventJournal::markLocked(qint64 journalId, bool delivered)
{
    // Unknown or already settled ids (0 for events never journaled, a
    // second mark) change nothing.
    if (pending.remove(journalId) == 0)
        return;
    if (file.isOpen()) {
        const QByteArray mark = encodedRecord(
            delivered ? Record::Type::Delivered : Record::Type::Refused, journalId);
        if (file.writeAt(fileEnd, mark)) {
            fileEnd += mark.size();
            marksUnflushed = true;
        } else {
            // The event stays in the file as pending and is sent once more
            // after a restart, unless a compaction drops it first.
            lastError = file.errorString();
            discardTailLocked();
        }
    }
    if (pending.isEmpty() && fileEnd > compactionThreshold)
        compactLocked();
}

QVector<SVelmoraMsg> VelmoraEventJournal::pendingEvents() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    QVector<SVelmoraMsg> events;
    events.reserve(pending.size());
    for (const SVelmoraMsg &event : pending)
        events.append(event);
    return events;
}

QString VelmoraEventJournal::filePath() const
{
    return journalPath;
}

void VelmoraEventJournal::setCompactionThreshold(qint64 bytes)
{
    const std::lock_guard<std::mutex> locker(mutex);
    compactionThreshold = bytes;
}

bool VelmoraEventJournal::compactLocked()
{
    if (!file.isOpen())
        return false;
    const QString replacementPath = journalPath + kReplacementSuffix;
    const QByteArray header = encodedRecord(Record::Type::Header, nextJournalId);
    {
        DurableFile replacement;
        // A replacement left behind by a crash during compaction is stale.
        if (!replacement.open(replacementPath) || !replacement.truncate(0)
            || !replacement.writeAt(0, header) || !replacement.sync()) {
            lastError = replacement.errorString();
            replacement.close();
            QFile::remove(replacementPath);
            return false;
        }
    }

    // Windows cannot rename over a file that is held open.
    file.close();
    QString replaceError;
    const bool replaced = DurableFile::replace(replacementPath, journalPath, &replaceError);
    if (!file.open(journalPath)) {
        // appendDurably() opens and reads the file again.
        lastError = file.errorString();
        return false;
    }
    if (!replaced) {
        // The old file is still in place and fileEnd still fits it.
        lastError = replaceError;
        QFile::remove(replacementPath);
        return false;
    }
    fileEnd = header.size();
    marksUnflushed = false;
    // Should the rename be lost with the power, the old file comes back with
    // every event in it settled, which is just as good.
    DurableFile::syncDirectory(directory, &lastError);
    return true;
}

void VelmoraEventJournal::discardTailLocked()
{
    // Best effort: should the truncation fail too, the next record is
    // written over the remains, and the reader skips whatever is left of
    // them because their checksums fail.
    file.truncate(fileEnd);
}
