#ifndef VELMORAJOURNALCOMPACTION_H
#define VELMORAJOURNALCOMPACTION_H

#include "durablefile.h"
#include "velmorajournalindex.h"

#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// One compaction of the event journal: the file that replaces it, written
// beside it from a snapshot of the events held (a header record, then each
// event's record as it was, followed by its refused mark if it has one),
// what the journal took after the snapshot copied after them as it is, and
// the rename over the journal.
//
// The journal makes it and calls finish() under its lock; writeReplacement()
// touches only what was taken and the replacement, so the journal runs it
// without the lock, in its compaction thread or in the caller's. The
// replacement is written as the journal's name with ".new" after it.
class VelmoraJournalCompaction
{
public:
    // The steps, in order, for tests that stop the process at each.
    enum class Step {
        Started,
        // The replacement holds its header record and nothing else yet.
        HeaderWritten,
        ReplacementWritten,
        ReplacementFlushed,
        // What the journal took meanwhile is in the replacement and flushed.
        TailCopied,
        // The replacement has the journal's name; the rename is not flushed.
        Renamed,
        Reopened,
        DirectoryFlushed,
    };
    using Hook = std::function<void(Step)>;

    // What finish() did.
    enum class Outcome {
        // The journal is as it was, open again if it was open.
        Failed,
        // The replacement is the journal now, but could not be opened.
        NotReopened,
        Done,
    };

    // Takes what is to be written, under the journal's lock: the events
    // held, the next id to hand out, the journal's end (what lies after it
    // is written meanwhile) and the generation of its file.
    VelmoraJournalCompaction(const QString &journalPath, const VelmoraJournalIndex &held, qint64 nextJournalId,
                             qint64 journalEnd, quint64 generation, Hook hook);

    // Writes the replacement and flushes it. On false the replacement is
    // gone again and error says why.
    bool writeReplacement(QString *error);
    // Copies the journal's bytes after the snapshot's end, up to journalEnd,
    // after the replacement's and flushes them, then closes the journal and
    // renames the replacement over it (Windows cannot rename over a file
    // that is held open) and opens it in journal. On Failed the replacement
    // is gone again; error says why unless the outcome is Done.
    Outcome finish(DurableFile &journal, qint64 journalEnd, QString *error);
    // Closes and removes the replacement, which the journal does not need.
    void discard();
    // A replacement left behind by a crash during compaction is stale: the
    // journal it was made from is still there, or it already took its place.
    static void removeStale(const QString &journalPath);

    // The replacement's size, the copied tail included.
    qint64 size() const { return outputSize; }
    quint64 generation() const { return fileGeneration; }
    // Tells the hook that step is done.
    void step(Step step) const;

private:
    static QString replacementPath(const QString &journalPath);
    bool copyTail(DurableFile &journal, qint64 journalEnd, QString *error);

    const QString journalPath;
    const QString path;
    const std::vector<VelmoraJournalIndex::KeptRecord> records;
    const qint64 nextJournalId;
    const qint64 snapshotEnd;
    const quint64 fileGeneration;
    const Hook hook;
    DurableFile output;
    qint64 outputSize = 0;
};

#endif // VELMORAJOURNALCOMPACTION_H
