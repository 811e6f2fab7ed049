#include "velmoraeventjournal.h"

#include "velmoraeventjournalrecord.h"
#include "velmorametrics.h"

#include <QDir>

#include <limits>
#include <utility>

const QString VelmoraEventJournal::kFileName = QStringLiteral("events.journal");

namespace {

using Record = VelmoraEventJournalRecord;

} // namespace

VelmoraEventJournal::VelmoraEventJournal(const QString &directory)
    : directory(QDir::cleanPath(directory)),
      journalPath(QDir::cleanPath(directory) + QLatin1Char('/') + kFileName)
{
}

VelmoraEventJournal::~VelmoraEventJournal()
{
    {
        std::unique_lock<std::mutex> locker(mutex);
        stopping = true;
        compactionIdle.wait(locker, [this] { return !compactionRunning; });
    }
    if (compactionThread.joinable())
        compactionThread.join();
    const std::lock_guard<std::mutex> locker(mutex);
    // Marks are written without a flush of their own; an orderly end
    // flushes them so that nothing is delivered twice after it.
    if (file.isOpen() && marksUnflushed)
        file.sync();
}

bool VelmoraEventJournal::open()
{
    const std::lock_guard<std::mutex> locker(mutex);
    const bool opened = openLocked();
    VelmoraMetrics::instance().journalWritable.set(opened ? 1 : 0);
    VelmoraMetrics::instance().journalBytes.set(fileEnd);
    return opened;
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

    if (!VelmoraJournalLoader::prepareDirectory(directory, &lastError))
        return false;

    // The file was closed mid-run because a compaction could not open its
    // result. Marks made since then are known only here, so the file is
    // written anew from what is held.
    if (loaded)
        return compactLocked();

    VelmoraJournalLoader loader(file, directory, journalPath);
    if (!loader.openAndRead(held)) {
        lastError = loader.errorString();
        file.close();
        return false;
    }
    foundDamage = loader.damage();
    // Compaction would take the damaged bytes with it; without a copy it
    // waits for the next start, which tries to keep one again.
    if (foundDamage.records > 0 && foundDamage.keptCopy.isEmpty())
        retryCompactionAt = std::numeric_limits<qint64>::max();
    // Later appends follow the last intact record.
    if (loader.hasTail() && !(file.truncate(loader.validEnd()) && file.sync())) {
        lastError = file.errorString();
        file.close();
        return false;
    }
    nextJournalId = qMax(nextJournalId, loader.highestJournalId() + 1);
    fileEnd = loader.validEnd();
    loaded = true;
    VelmoraJournalCompaction::removeStale(journalPath);
    // Once a copy of a damaged file is kept, the file is written anew
    // without the damage, so that the next start does not report it again.
    if (foundDamage.records > 0 && !foundDamage.keptCopy.isEmpty()) {
        compactLocked();
        return file.isOpen();
    }
    compactIfWastefulLocked();
    return true;
}

VelmoraEventJournal::Damage VelmoraEventJournal::damageFound() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return foundDamage;
}

bool VelmoraEventJournal::appendDurably(QVector<SVelmoraMsg> &events)
{
    const std::lock_guard<std::mutex> locker(mutex);
    if (!openLocked()) {
        VelmoraMetrics::instance().journalWritable.set(0);
        return false;
    }
    // Until a compaction's rename is on the disk, a power failure could
    // bring back the file from before it, without what is appended now.
    if (renameUnflushed) {
        if (!DurableFile::syncDirectory(directory, &lastError))
            return false;
        renameUnflushed = false;
    }
    if (events.isEmpty())
        return true;

    const qint64 firstId = nextJournalId;
    QVector<QByteArray> records;
    records.reserve(events.size());
    QByteArray batch;
    for (int index = 0; index < events.size(); ++index) {
        records.append(Record::encode(Record::Type::Event, firstId + index, events.at(index)));
        batch += records.last();
    }
    nextJournalId += events.size();

    if (!file.writeAt(fileEnd, batch) || !file.sync()) {
        lastError = file.errorString();
        discardTailLocked();
        VelmoraMetrics::instance().journalWritable.set(0);
        return false;
    }
    fileEnd += batch.size();
    VelmoraMetrics::instance().journalWritable.set(1);
    VelmoraMetrics::instance().journalBytes.set(fileEnd);
    VelmoraMetrics::instance().eventsJournaled.add(std::uint64_t(events.size()));
    marksUnflushed = false;
    for (int index = 0; index < events.size(); ++index) {
        events[index].journalId = firstId + index;
        records[index].squeeze();
        // The event's form is made once, in its record: the event carries
        // the record on to the serial side, which keeps it shared with the
        // journal's own.
        events[index].encoded = records.at(index);
        events[index].encodedStart = Record::kEventFormStart;
        const QByteArray deviceId = events.at(index).deviceId.toUtf8();
        held.add(firstId + index, records.at(index), deviceId.constData(), deviceId.size());
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
    markLocked(journalId, Record::Type::Delivered);
}

void VelmoraEventJournal::markRefused(qint64 journalId)
{
    const std::lock_guard<std::mutex> locker(mutex);
    markLocked(journalId, Record::Type::Refused);
}

void VelmoraEventJournal::markRequeued(qint64 journalId)
{
    const std::lock_guard<std::mutex> locker(mutex);
    markLocked(journalId, Record::Type::Requeued);
}

void VelmoraEventJournal::markReleased(qint64 journalId)
{
    const std::lock_guard<std::mutex> locker(mutex);
    markLocked(journalId, Record::Type::Released);
}

void VelmoraEventJournal::markLocked(qint64 journalId, VelmoraEventJournalRecord::Type type)
{
    // Unknown ids (0 for events never journaled) and marks that do not fit
    // the event's state (a second mark, a release of a pending event)
    // change nothing, not even the file.
    if (!held.applyMark(journalId, type))
        return;
    if (file.isOpen()) {
        const QByteArray mark = Record::encode(type, journalId);
        if (file.writeAt(fileEnd, mark)) {
            fileEnd += mark.size();
            VelmoraMetrics::instance().journalBytes.set(fileEnd);
            marksUnflushed = true;
        } else {
            // The event stays in the file as it was and is sent once more
            // after a restart, unless a compaction settles it first.
            lastError = file.errorString();
            discardTailLocked();
        }
    }
    held.dropSettled();
    compactIfWastefulLocked();
}

QVector<SVelmoraMsg> VelmoraEventJournal::pendingEvents() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return held.events(State::Pending);
}

QVector<SVelmoraMsg> VelmoraEventJournal::setAsideEvents() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return held.events(State::SetAside);
}

int VelmoraEventJournal::pendingCount() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return held.pendingCount();
}

int VelmoraEventJournal::pendingCountForDevice(const QString &deviceId) const
{
    const QByteArray name = deviceId.toUtf8();
    const std::lock_guard<std::mutex> locker(mutex);
    return held.pendingCountForDevice(name);
}

int VelmoraEventJournal::setAsideCount() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return held.setAsideCount();
}

bool VelmoraEventJournal::heldEvent(qint64 journalId, SVelmoraMsg *event) const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return held.heldEvent(journalId, event);
}

void VelmoraEventJournal::setCompactionThreshold(qint64 bytes)
{
    const std::lock_guard<std::mutex> locker(mutex);
    compactionThreshold = bytes;
}

bool VelmoraEventJournal::compact()
{
    std::unique_lock<std::mutex> locker(mutex);
    compactionIdle.wait(locker, [this] { return !compactionRunning; });
    return openLocked() && compactLocked();
}

void VelmoraEventJournal::waitForCompaction()
{
    std::unique_lock<std::mutex> locker(mutex);
    compactionIdle.wait(locker, [this] { return !compactionRunning; });
}

void VelmoraEventJournal::setCompactionHook(CompactionHook hook)
{
    const std::lock_guard<std::mutex> locker(mutex);
    compactionHook = std::move(hook);
}

bool VelmoraEventJournal::isWastefulLocked() const
{
    return file.isOpen() && fileEnd > compactionThreshold && fileEnd > 2 * held.liveBytes()
        && fileEnd >= retryCompactionAt;
}

void VelmoraEventJournal::compactIfWastefulLocked()
{
    if (compactionRunning || stopping || !isWastefulLocked())
        return;
    // The last compaction's thread has let go of the lock for good and is
    // ending, or has ended.
    if (compactionThread.joinable())
        compactionThread.join();
    compactionRunning = true;
    compactionThread = std::thread(&VelmoraEventJournal::compactInBackground, this);
}

void VelmoraEventJournal::compactInBackground()
{
    std::unique_lock<std::mutex> locker(mutex);
    // Marks and appends made while a replacement is written can leave the
    // file wasteful again; it is then compacted once more.
    while (!stopping && isWastefulLocked()) {
        VelmoraJournalCompaction compaction = compactionLocked();
        locker.unlock();
        // The bulk of the work, and the flush of it, is done without the
        // lock: the serial side marks events and the receiver appends them
        // meanwhile, into the old file.
        QString error;
        const bool written = compaction.writeReplacement(&error);
        locker.lock();
        if (!written) {
            failedCompactionLocked(error);
            break;
        }
        if (compaction.generation() != fileGeneration || !file.isOpen()) {
            // The file was replaced by another way meanwhile.
            compaction.discard();
            continue;
        }
        if (!finishReplacementLocked(compaction))
            break;
        // The directory's flush is the one wait left; appends made before it
        // is done flush it themselves first.
        const quint64 generation = fileGeneration;
        locker.unlock();
        const bool flushed = DurableFile::syncDirectory(directory, &error);
        if (flushed)
            compaction.step(CompactionStep::DirectoryFlushed);
        locker.lock();
        if (flushed && generation == fileGeneration)
            renameUnflushed = false;
    }
    compactionRunning = false;
    compactionIdle.notify_all();
}

bool VelmoraEventJournal::compactLocked()
{
    VelmoraJournalCompaction compaction = compactionLocked();
    QString error;
    if (!compaction.writeReplacement(&error)) {
        failedCompactionLocked(error);
        return false;
    }
    if (!finishReplacementLocked(compaction))
        return false;
    // Should the rename be lost with the power, the old file comes back
    // with the same events in it; but appends must wait until it is not.
    if (DurableFile::syncDirectory(directory, &lastError)) {
        renameUnflushed = false;
        compaction.step(CompactionStep::DirectoryFlushed);
    }
    return file.isOpen();
}

VelmoraJournalCompaction VelmoraEventJournal::compactionLocked() const
{
    return {journalPath, held, nextJournalId, fileEnd, fileGeneration, compactionHook};
}

bool VelmoraEventJournal::finishReplacementLocked(VelmoraJournalCompaction &compaction)
{
    QString error;
    const auto outcome = compaction.finish(file, fileEnd, &error);
    if (outcome == VelmoraJournalCompaction::Outcome::Failed) {
        failedCompactionLocked(error);
        return false;
    }
    ++fileGeneration;
    fileEnd = compaction.size();
    VelmoraMetrics::instance().journalBytes.set(fileEnd);
    marksUnflushed = false;
    renameUnflushed = true;
    retryCompactionAt = 0;
    held.dropSettled();
    if (outcome == VelmoraJournalCompaction::Outcome::NotReopened) {
        // appendDurably() writes the file anew from what is held.
        lastError = error;
        return false;
    }
    return true;
}

void VelmoraEventJournal::failedCompactionLocked(const QString &error)
{
    lastError = error;
    // Not tried again at every mark: only once the file has grown by as
    // much again.
    retryCompactionAt = fileEnd + qMax(compactionThreshold, held.liveBytes());
}

void VelmoraEventJournal::discardTailLocked()
{
    // Best effort: should the truncation fail too, the next record is
    // written over the remains, and the reader skips whatever is left of
    // them because their checksums fail.
    file.truncate(fileEnd);
}
