#include "velmoraeventjournal.h"

#include "velmoraeventjournalrecord.h"
#include "velmorajournaldamage.h"
#include "velmorametrics.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <limits>
#include <utility>

const QString VelmoraEventJournal::kFileName = QStringLiteral("events.journal");

namespace {

using Record = VelmoraEventJournalRecord;

// The compacted file is written here first and then renamed over the journal.
const QString kReplacementSuffix = QStringLiteral(".new");
// A damaged journal is kept as it was found under this name and the time.
const QString kDamagedSuffix = QStringLiteral(".damaged-");
const QString kDamagedTimePattern = QStringLiteral("yyyyMMdd-hhmmss");

// The file is read, and a replacement written, this much at a time.
constexpr int kChunkSize = 4 * 1024 * 1024;
static_assert(kChunkSize > Record::kFrameSize + static_cast<qint64>(Record::kMaxPayloadSize),
              "a chunk must hold the largest record");

QByteArray encodedRecord(Record::Type type, qint64 journalId, const SVelmoraMsg &event = SVelmoraMsg())
{
    Record record;
    record.type = type;
    record.journalId = journalId;
    record.event = event;
    return Record::encode(record);
}

constexpr qint64 kMarkSize = Record::kIdRecordSize;
constexpr qint64 kHeaderSize = Record::kIdRecordSize;

} // namespace

VelmoraEventJournal::VelmoraEventJournal(const QString &directory)
    : directory(QDir::cleanPath(directory)),
      journalPath(QDir::cleanPath(directory) + QLatin1Char('/') + kFileName),
      liveBytes(kHeaderSize)
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

    // The file was closed mid-run because a compaction could not open its
    // result. Marks made since then are known only here, so the file is
    // written anew from what is held.
    if (loaded)
        return compactLocked();

    const bool created = !QFileInfo::exists(journalPath);
    if (!file.open(journalPath)) {
        lastError = file.errorString();
        return false;
    }
    if (created && !DurableFile::syncDirectory(directory, &lastError)) {
        file.close();
        return false;
    }
    if (!readFileLocked()) {
        file.close();
        return false;
    }
    loaded = true;
    // A replacement left behind by a crash during compaction is stale: the
    // journal it was made from is still there, or it already took its place.
    QFile::remove(replacementPath());
    // Once a copy of a damaged file is kept, the file is written anew
    // without the damage, so that the next start does not report it again.
    if (foundDamage.records > 0 && !foundDamage.keptCopy.isEmpty()) {
        compactLocked();
        return file.isOpen();
    }
    compactIfWastefulLocked();
    return true;
}

bool VelmoraEventJournal::readFileLocked()
{
    held.clear();
    settledCount = 0;
    setAsideTotal = 0;
    pendingTotal = 0;
    std::fill(pendingPerDevice.begin(), pendingPerDevice.end(), 0);
    liveBytes = kHeaderSize;
    qint64 highestId = 0;
    VelmoraJournalDamage damage;
    const auto take = [&](const Record::Found &found) {
        damage.noteRecord(found.offset, found.size);
        switch (found.type) {
        case Record::Type::Header:
            highestId = qMax(highestId, found.journalId - 1);
            break;
        case Record::Type::Event:
            highestId = qMax(highestId, found.journalId);
            addLocked(found.journalId, QByteArray(found.bytes, found.size),
                      deviceIndexLocked(found.deviceId, found.deviceIdSize));
            break;
        case Record::Type::Delivered:
        case Record::Type::Refused:
        case Record::Type::Released:
        case Record::Type::Requeued: {
            highestId = qMax(highestId, found.journalId);
            const auto heldEvent = findLocked(found.journalId);
            State after = State::Settled;
            if (heldEvent != held.end() && stateAfterMark(heldEvent->state, found.type, &after))
                setStateLocked(*heldEvent, after);
            break;
        }
        }
    };

    // Only as far as the file reached when it was opened: a device file
    // such as /dev/zero would otherwise be read for ever.
    const qint64 fileSize = file.size();
    if (fileSize < 0) {
        lastError = file.errorString();
        return false;
    }
    // Read a piece at a time, so that neither the file's size nor the
    // memory it would take whole set a limit.
    Record::Scan progress;
    QByteArray buffer;
    QByteArray chunk;
    qint64 base = 0;
    qint64 readEnd = 0;
    bool atEnd = false;
    while (!atEnd) {
        const int wanted = static_cast<int>(qMin<qint64>(kChunkSize, fileSize - readEnd));
        if (!file.readAt(readEnd, wanted, &chunk)) {
            lastError = file.errorString();
            return false;
        }
        readEnd += chunk.size();
        atEnd = readEnd >= fileSize || chunk.size() < wanted;
        buffer.append(chunk);
        const qint64 done = Record::scan(buffer.constData(), buffer.size(), base, atEnd, progress, take);
        buffer.remove(0, static_cast<int>(done));
        base += done;
    }
    dropSettledLocked();

    if (!tallyDamageLocked(damage, fileSize))
        return false;
    if (progress.validEnd < base && !(file.truncate(progress.validEnd) && file.sync())) {
        lastError = file.errorString();
        return false;
    }
    nextJournalId = qMax(nextJournalId, highestId + 1);
    fileEnd = progress.validEnd;
    return true;
}

bool VelmoraEventJournal::tallyDamageLocked(VelmoraJournalDamage &damage, qint64 fileSize)
{
    // Damage is rare, so its bytes are read a second time rather than kept
    // while the file is read: a piece at a time, a record being far smaller.
    QByteArray bytes;
    const auto readRange = [&](qint64 start, qint64 end, bool tail) {
        for (qint64 offset = start; offset < end; offset += bytes.size()) {
            const int wanted = static_cast<int>(qMin<qint64>(kChunkSize, end - offset));
            if (!file.readAt(offset, wanted, &bytes) || bytes.size() != wanted) {
                lastError = file.errorString();
                return false;
            }
            if (tail && end - start <= kChunkSize)
                damage.countTail(offset, bytes);
            else
                damage.countGap(offset, bytes);
        }
        return true;
    };
    for (const VelmoraJournalDamage::Gap &gap : damage.gaps()) {
        if (!readRange(gap.start, gap.end, false))
            return false;
    }
    if (!readRange(damage.intactEnd(), fileSize, true))
        return false;

    foundDamage = Damage();
    foundDamage.records = damage.records();
    foundDamage.offsets = damage.offsets();
    if (damage.records() == 0)
        return true;
    // Kept as found, before truncation or compaction rewrites anything.
    foundDamage.keptCopy = keepDamagedCopyLocked(fileSize, &foundDamage.copyError);
    // Compaction would take the damaged bytes with it; without a copy it
    // waits for the next start, which tries to keep one again.
    if (foundDamage.keptCopy.isEmpty())
        retryCompactionAt = std::numeric_limits<qint64>::max();
    return true;
}

QString VelmoraEventJournal::keepDamagedCopyLocked(qint64 fileSize, QString *error)
{
    const QString base = journalPath + kDamagedSuffix + QDateTime::currentDateTime().toString(kDamagedTimePattern);
    QString copyPath = base;
    // Never over an earlier copy, not even one of the same second.
    for (int number = 2; QFileInfo::exists(copyPath); ++number)
        copyPath = base + QLatin1Char('-') + QString::number(number);
    DurableFile copy;
    bool copied = copy.open(copyPath);
    QByteArray bytes;
    for (qint64 offset = 0; copied && offset < fileSize; offset += bytes.size()) {
        const int wanted = static_cast<int>(qMin<qint64>(kChunkSize, fileSize - offset));
        copied = file.readAt(offset, wanted, &bytes) && bytes.size() == wanted && copy.writeAt(offset, bytes);
    }
    if (!copied || !copy.sync() || !DurableFile::syncDirectory(directory, error)) {
        if (error->isEmpty())
            *error = copy.errorString().isEmpty() ? file.errorString() : copy.errorString();
        copy.close();
        QFile::remove(copyPath);
        return QString();
    }
    return copyPath;
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
        records.append(encodedRecord(Record::Type::Event, firstId + index, events.at(index)));
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
        const QByteArray deviceId = events.at(index).deviceId.toUtf8();
        addLocked(firstId + index, records.at(index), deviceIndexLocked(deviceId.constData(), deviceId.size()));
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

bool VelmoraEventJournal::stateAfterMark(State state, VelmoraEventJournalRecord::Type mark, State *after)
{
    switch (mark) {
    case Record::Type::Delivered:
        *after = State::Settled;
        return state != State::Settled;
    case Record::Type::Refused:
        *after = State::SetAside;
        return state == State::Pending;
    case Record::Type::Released:
        *after = State::Settled;
        return state == State::SetAside;
    case Record::Type::Requeued:
        *after = State::Pending;
        return state == State::SetAside;
    case Record::Type::Header:
    case Record::Type::Event:
        break;
    }
    return false;
}

void VelmoraEventJournal::markLocked(qint64 journalId, VelmoraEventJournalRecord::Type type)
{
    // Unknown ids (0 for events never journaled) and marks that do not fit
    // the event's state (a second mark, a release of a pending event)
    // change nothing.
    const auto heldEvent = findLocked(journalId);
    State after = State::Settled;
    if (heldEvent == held.end() || !stateAfterMark(heldEvent->state, type, &after))
        return;
    if (file.isOpen()) {
        const QByteArray mark = encodedRecord(type, journalId);
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
    setStateLocked(*heldEvent, after);
    if (after == State::Settled)
        dropSettledLocked();
    compactIfWastefulLocked();
}

QVector<SVelmoraMsg> VelmoraEventJournal::pendingEvents() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return eventsLocked(State::Pending);
}

QVector<SVelmoraMsg> VelmoraEventJournal::setAsideEvents() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return eventsLocked(State::SetAside);
}

QVector<SVelmoraMsg> VelmoraEventJournal::eventsLocked(State state) const
{
    QVector<SVelmoraMsg> events;
    events.reserve(state == State::SetAside ? setAsideTotal : pendingTotal);
    for (const HeldEvent &heldEvent : held) {
        if (heldEvent.state != state)
            continue;
        events.append(Record::eventOf(heldEvent.record.constData(), heldEvent.record.size()));
        events.last().journalId = heldEvent.journalId;
    }
    return events;
}

int VelmoraEventJournal::pendingCount() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return pendingTotal;
}

int VelmoraEventJournal::pendingCountForDevice(const QString &deviceId) const
{
    const QByteArray name = deviceId.toUtf8();
    const std::lock_guard<std::mutex> locker(mutex);
    const auto found = deviceIndexes.constFind(name);
    return found == deviceIndexes.constEnd() ? 0 : pendingPerDevice.at(found.value());
}

int VelmoraEventJournal::setAsideCount() const
{
    const std::lock_guard<std::mutex> locker(mutex);
    return setAsideTotal;
}

bool VelmoraEventJournal::heldEvent(qint64 journalId, SVelmoraMsg *event) const
{
    const std::lock_guard<std::mutex> locker(mutex);
    const auto found = std::lower_bound(held.cbegin(), held.cend(), journalId, isBefore);
    if (found == held.cend() || found->journalId != journalId || found->state == State::Settled)
        return false;
    *event = Record::eventOf(found->record.constData(), found->record.size());
    event->journalId = journalId;
    return true;
}

QString VelmoraEventJournal::filePath() const
{
    return journalPath;
}

QString VelmoraEventJournal::spoolDirectory() const
{
    return directory;
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

void VelmoraEventJournal::step(const Replacement &replacement, CompactionStep step)
{
    if (replacement.hook)
        replacement.hook(step);
}

bool VelmoraEventJournal::isWastefulLocked() const
{
    return file.isOpen() && fileEnd > compactionThreshold && fileEnd > 2 * liveBytes
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
        const Replacement replacement = snapshotLocked();
        locker.unlock();
        // The bulk of the work, and the flush of it, is done without the
        // lock: the serial side marks events and the receiver appends them
        // meanwhile, into the old file.
        DurableFile output;
        qint64 outputSize = 0;
        QString error;
        const bool written = writeReplacement(replacement, output, &outputSize, &error);
        locker.lock();
        if (!written) {
            failedCompactionLocked(error);
            break;
        }
        if (replacement.generation != fileGeneration || !file.isOpen()) {
            // The file was replaced by another way meanwhile.
            output.close();
            QFile::remove(replacementPath());
            continue;
        }
        if (!finishReplacementLocked(replacement, output, outputSize))
            break;
        // The directory's flush is the one wait left; appends made before it
        // is done flush it themselves first.
        const quint64 generation = fileGeneration;
        locker.unlock();
        const bool flushed = DurableFile::syncDirectory(directory, &error);
        if (flushed)
            step(replacement, CompactionStep::DirectoryFlushed);
        locker.lock();
        if (flushed && generation == fileGeneration)
            renameUnflushed = false;
    }
    compactionRunning = false;
    compactionIdle.notify_all();
}

bool VelmoraEventJournal::compactLocked()
{
    const Replacement replacement = snapshotLocked();
    DurableFile output;
    qint64 outputSize = 0;
    QString error;
    if (!writeReplacement(replacement, output, &outputSize, &error)) {
        failedCompactionLocked(error);
        return false;
    }
    if (!finishReplacementLocked(replacement, output, outputSize))
        return false;
    // Should the rename be lost with the power, the old file comes back
    // with the same events in it; but appends must wait until it is not.
    if (DurableFile::syncDirectory(directory, &lastError)) {
        renameUnflushed = false;
        step(replacement, CompactionStep::DirectoryFlushed);
    }
    return file.isOpen();
}

VelmoraEventJournal::Replacement VelmoraEventJournal::snapshotLocked() const
{
    Replacement replacement;
    replacement.path = replacementPath();
    replacement.nextJournalId = nextJournalId;
    replacement.journalEnd = fileEnd;
    replacement.generation = fileGeneration;
    replacement.hook = compactionHook;
    replacement.records.reserve(static_cast<size_t>(pendingTotal + setAsideTotal));
    // The records' bytes are shared, not copied.
    for (const HeldEvent &heldEvent : held) {
        if (heldEvent.state != State::Settled)
            replacement.records.push_back({heldEvent.journalId, heldEvent.record, heldEvent.state == State::SetAside});
    }
    return replacement;
}

bool VelmoraEventJournal::writeReplacement(const Replacement &replacement, DurableFile &output, qint64 *size,
                                           QString *error)
{
    step(replacement, CompactionStep::Started);
    *size = 0;
    QByteArray pieces = encodedRecord(Record::Type::Header, replacement.nextJournalId);
    const auto writePieces = [&] {
        if (!output.writeAt(*size, pieces))
            return false;
        *size += pieces.size();
        pieces.clear();
        return true;
    };
    // A replacement left behind by a crash during compaction is stale.
    bool written = output.open(replacement.path) && output.truncate(0) && writePieces();
    if (written)
        step(replacement, CompactionStep::HeaderWritten);
    for (auto record = replacement.records.cbegin(); written && record != replacement.records.cend(); ++record) {
        pieces += record->bytes;
        if (record->setAside)
            pieces += encodedRecord(Record::Type::Refused, record->journalId);
        if (pieces.size() >= kChunkSize)
            written = writePieces();
    }
    written = written && writePieces();
    if (written)
        step(replacement, CompactionStep::ReplacementWritten);
    if (!written || !output.sync()) {
        *error = output.errorString();
        output.close();
        QFile::remove(replacement.path);
        return false;
    }
    step(replacement, CompactionStep::ReplacementFlushed);
    return true;
}

bool VelmoraEventJournal::finishReplacementLocked(const Replacement &replacement, DurableFile &output,
                                                  qint64 outputSize)
{
    // What was written to the journal since the snapshot goes after the
    // snapshot's records, as it is: new events and marks, whose meaning does
    // not change by the move.
    bool copied = true;
    QByteArray tail;
    for (qint64 offset = replacement.journalEnd; copied && offset < fileEnd; offset += tail.size()) {
        const int wanted = static_cast<int>(qMin<qint64>(kChunkSize, fileEnd - offset));
        copied = file.readAt(offset, wanted, &tail) && tail.size() == wanted
            && output.writeAt(outputSize + offset - replacement.journalEnd, tail);
    }
    const qint64 tailSize = fileEnd - replacement.journalEnd;
    if (!copied || (tailSize > 0 && !output.sync())) {
        const QString error = output.errorString().isEmpty() ? file.errorString() : output.errorString();
        output.close();
        QFile::remove(replacement.path);
        failedCompactionLocked(error);
        return false;
    }
    step(replacement, CompactionStep::TailCopied);
    output.close();

    // Windows cannot rename over a file that is held open.
    const bool wasOpen = file.isOpen();
    file.close();
    QString error;
    if (!DurableFile::replace(replacement.path, journalPath, &error)) {
        QFile::remove(replacement.path);
        // The old file is still in place and fileEnd still fits it, unless
        // it was closed already; then open() tries all this again.
        if (wasOpen && !file.open(journalPath))
            error = file.errorString();
        failedCompactionLocked(error);
        return false;
    }
    ++fileGeneration;
    fileEnd = outputSize + tailSize;
    VelmoraMetrics::instance().journalBytes.set(fileEnd);
    marksUnflushed = false;
    renameUnflushed = true;
    retryCompactionAt = 0;
    step(replacement, CompactionStep::Renamed);

    dropSettledLocked();
    if (!file.open(journalPath)) {
        // appendDurably() writes the file anew from what is held.
        lastError = file.errorString();
        return false;
    }
    step(replacement, CompactionStep::Reopened);
    return true;
}

void VelmoraEventJournal::failedCompactionLocked(const QString &error)
{
    lastError = error;
    // Not tried again at every mark: only once the file has grown by as
    // much again.
    retryCompactionAt = fileEnd + qMax(compactionThreshold, liveBytes);
}

QString VelmoraEventJournal::replacementPath() const
{
    return journalPath + kReplacementSuffix;
}

void VelmoraEventJournal::discardTailLocked()
{
    // Best effort: should the truncation fail too, the next record is
    // written over the remains, and the reader skips whatever is left of
    // them because their checksums fail.
    file.truncate(fileEnd);
}

std::vector<VelmoraEventJournal::HeldEvent>::iterator VelmoraEventJournal::findLocked(qint64 journalId)
{
    const auto found = std::lower_bound(held.begin(), held.end(), journalId, isBefore);
    return found != held.end() && found->journalId == journalId ? found : held.end();
}

bool VelmoraEventJournal::isBefore(const HeldEvent &heldEvent, qint64 journalId)
{
    return heldEvent.journalId < journalId;
}

quint32 VelmoraEventJournal::deviceIndexLocked(const char *deviceId, int size)
{
    const auto found = deviceIndexes.constFind(QByteArray::fromRawData(deviceId, size));
    if (found != deviceIndexes.constEnd())
        return found.value();
    const auto index = static_cast<quint32>(pendingPerDevice.size());
    deviceIndexes.insert(QByteArray(deviceId, size), index);
    pendingPerDevice.push_back(0);
    return index;
}

void VelmoraEventJournal::addLocked(qint64 journalId, QByteArray record, quint32 device)
{
    // Ids grow in file order, so a new event belongs at the end.
    auto place = held.end();
    if (!held.empty() && held.back().journalId >= journalId)
        place = std::lower_bound(held.begin(), held.end(), journalId, isBefore);
    if (place == held.end() || place->journalId != journalId) {
        liveBytes += record.size();
        place = held.insert(place, {journalId, std::move(record), device, State::Settled});
        ++settledCount;
        setStateLocked(*place, State::Pending);
        return;
    }
    // Only a file put together by hand repeats an id; the later record
    // counts, as a pending event.
    setStateLocked(*place, State::Settled);
    liveBytes += record.size();
    place->record = std::move(record);
    place->device = device;
    setStateLocked(*place, State::Pending);
}

void VelmoraEventJournal::setStateLocked(HeldEvent &heldEvent, State state)
{
    switch (heldEvent.state) {
    case State::Pending:
        --pendingTotal;
        --pendingPerDevice[heldEvent.device];
        break;
    case State::SetAside:
        --setAsideTotal;
        liveBytes -= kMarkSize;
        break;
    case State::Settled:
        --settledCount;
        break;
    }
    heldEvent.state = state;
    switch (state) {
    case State::Pending:
        ++pendingTotal;
        ++pendingPerDevice[heldEvent.device];
        break;
    case State::SetAside:
        ++setAsideTotal;
        liveBytes += kMarkSize;
        break;
    case State::Settled:
        ++settledCount;
        liveBytes -= heldEvent.record.size();
        heldEvent.record = QByteArray();
        break;
    }
}

void VelmoraEventJournal::dropSettledLocked()
{
    // Settled entries are taken out in one sweep once they are half of all,
    // which keeps both the sweeps and the lookups cheap.
    if (settledCount == 0 || settledCount * 2 < static_cast<int>(held.size()))
        return;
    held.erase(std::remove_if(held.begin(), held.end(),
                              [](const HeldEvent &heldEvent) { return heldEvent.state == State::Settled; }),
               held.end());
    settledCount = 0;
}
