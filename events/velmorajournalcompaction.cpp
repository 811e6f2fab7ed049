#include "velmorajournalcompaction.h"

#include "velmoraeventjournalrecord.h"

#include <QByteArray>
#include <QFile>

#include <utility>

namespace {

using Record = VelmoraEventJournalRecord;

// The compacted file is written here first and then renamed over the journal.
const QString kReplacementSuffix = QStringLiteral(".new");

} // namespace

VelmoraJournalCompaction::VelmoraJournalCompaction(const QString &journalPath, const VelmoraJournalIndex &held,
                                                   qint64 nextJournalId, qint64 journalEnd, quint64 generation,
                                                   Hook hook)
    : journalPath(journalPath),
      path(replacementPath(journalPath)),
      records(held.keptRecords()),
      nextJournalId(nextJournalId),
      snapshotEnd(journalEnd),
      fileGeneration(generation),
      hook(std::move(hook))
{
}

QString VelmoraJournalCompaction::replacementPath(const QString &journalPath)
{
    return journalPath + kReplacementSuffix;
}

void VelmoraJournalCompaction::removeStale(const QString &journalPath)
{
    QFile::remove(replacementPath(journalPath));
}

void VelmoraJournalCompaction::step(Step step) const
{
    if (hook)
        hook(step);
}

bool VelmoraJournalCompaction::writeReplacement(QString *error)
{
    step(Step::Started);
    outputSize = 0;
    QByteArray pieces = Record::encode(Record::Type::Header, nextJournalId);
    const auto writePieces = [&] {
        if (!output.writeAt(outputSize, pieces))
            return false;
        outputSize += pieces.size();
        pieces.clear();
        return true;
    };
    // A replacement left behind by a crash during compaction is stale.
    bool written = output.open(path) && output.truncate(0) && writePieces();
    if (written)
        step(Step::HeaderWritten);
    for (auto record = records.cbegin(); written && record != records.cend(); ++record) {
        pieces += record->bytes;
        if (record->setAside)
            pieces += Record::encode(Record::Type::Refused, record->journalId);
        if (pieces.size() >= Record::kChunkSize)
            written = writePieces();
    }
    written = written && writePieces();
    if (written)
        step(Step::ReplacementWritten);
    if (!written || !output.sync()) {
        *error = output.errorString();
        discard();
        return false;
    }
    step(Step::ReplacementFlushed);
    return true;
}

bool VelmoraJournalCompaction::copyTail(DurableFile &journal, qint64 journalEnd, QString *error)
{
    // What was written to the journal since the snapshot goes after the
    // snapshot's records, as it is: new events and marks, whose meaning does
    // not change by the move.
    bool copied = true;
    QByteArray tail;
    for (qint64 offset = snapshotEnd; copied && offset < journalEnd; offset += tail.size()) {
        const int wanted = static_cast<int>(qMin<qint64>(Record::kChunkSize, journalEnd - offset));
        copied = journal.readAt(offset, wanted, &tail) && tail.size() == wanted
            && output.writeAt(outputSize + offset - snapshotEnd, tail);
    }
    const qint64 tailSize = journalEnd - snapshotEnd;
    if (!copied || (tailSize > 0 && !output.sync())) {
        *error = output.errorString().isEmpty() ? journal.errorString() : output.errorString();
        discard();
        return false;
    }
    outputSize += tailSize;
    step(Step::TailCopied);
    output.close();
    return true;
}

VelmoraJournalCompaction::Outcome VelmoraJournalCompaction::finish(DurableFile &journal, qint64 journalEnd,
                                                                    QString *error)
{
    if (!copyTail(journal, journalEnd, error))
        return Outcome::Failed;
    const bool wasOpen = journal.isOpen();
    journal.close();
    if (!DurableFile::replace(path, journalPath, error)) {
        QFile::remove(path);
        // The old file is still in place and its end has not moved, unless
        // it was closed already; then the journal tries all this again.
        if (wasOpen && !journal.open(journalPath))
            *error = journal.errorString();
        return Outcome::Failed;
    }
    step(Step::Renamed);
    if (!journal.open(journalPath)) {
        *error = journal.errorString();
        return Outcome::NotReopened;
    }
    step(Step::Reopened);
    return Outcome::Done;
}

void VelmoraJournalCompaction::discard()
{
    output.close();
    QFile::remove(path);
}
