#ifndef VELMORAEVENTJOURNAL_H
#define VELMORAEVENTJOURNAL_H

#include "durablefile.h"
#include "velmoraeventjournalrecord.h"
#include "velmoraeventstore.h"
#include "velmorajournalcompaction.h"
#include "velmorajournalindex.h"
#include "velmorajournalloader.h"

#include <QString>
#include <QVector>

#include <condition_variable>
#include <mutex>
#include <thread>

// The event store kept as an append-only file, "events.journal", in the spool
// directory.
//
// Events are made durable (written and flushed to the disk) before
// appendDurably() returns; one call is one write and one flush, however many
// events it carries. Delivered and refused marks are written without a flush
// of their own: a mark lost to a power failure only sends its event to the
// monitoring software a second time after the restart, and the next durable
// append or compaction flushes it anyway. A mark that reaches the file can
// therefore never stand without its event.
//
// Journal ids grow by one per event and are never handed out twice, not even
// across compaction and restart: a compacted file keeps the next id in a
// header record. An append that fails still uses up its ids, because its
// records may have reached the disk even though it reported failure.
//
// Events refused by the monitoring software are set aside, not forgotten:
// they stay in the file, with their refused mark, until the operator sends
// them again (a requeued mark makes them pending once more) or releases them
// (a released mark lets compaction drop them), or until they are delivered.
//
// Whenever the file holds more than twice what the events still pending and
// set aside take, and is larger than the compaction threshold, it is
// replaced in one step by a file that holds only those: a header record, and
// each event's record as it was, followed by its refused mark if it has one.
// The replacement is written beside the journal and flushed in a thread of
// its own, without the lock, while events go on being appended and marked in
// the old file; then, under the lock, what was written meanwhile is copied
// after it as it is, the replacement flushed again and renamed over the
// journal, and the rename flushed. A crash at any point leaves either the
// old or the new file, and both hold the same events. So the file's size
// follows the backlog, not the history, and neither worker waits for the
// bulk of a compaction.
//
// The events held are kept in memory by a VelmoraJournalIndex; the file as
// found at start-up is read by a VelmoraJournalLoader, and each compaction is
// a VelmoraJournalCompaction. This class owns the file, appends and marks,
// and decides when to compact.
//
// All public calls are safe from any thread; one mutex guards everything.
// It is a std::mutex so that ThreadSanitizer can follow it; Qt's own mutex
// locks partly inside the uninstrumented Qt library.
class VelmoraEventJournal : public VelmoraEventStore
{
public:
    // What the read of the file at open() found damaged or cut.
    using Damage = VelmoraJournalLoader::Damage;

    explicit VelmoraEventJournal(const QString &directory);
    ~VelmoraEventJournal() override;

    // Creates the directory when it is missing, opens the journal and reads
    // what it holds. A torn or damaged last record is cut off so that later
    // appends follow the last intact one. False, with errorString(), when the
    // directory or the file cannot be used; appendDurably() then tries again.
    bool open();
    bool isOpen() const;
    // Of the last read of the file; none before open().
    Damage damageFound() const;

    bool appendDurably(QVector<SVelmoraMsg> &events) override;
    QString errorString() const override;
    void markDelivered(qint64 journalId) override;
    void markRefused(qint64 journalId) override;
    void markRequeued(qint64 journalId) override;
    void markReleased(qint64 journalId) override;
    QVector<SVelmoraMsg> pendingEvents() const override;
    int pendingCount() const override;
    int pendingCountForDevice(const QString &deviceId) const override;
    bool heldEvent(qint64 journalId, SVelmoraMsg *event) const override;
    // Events the monitoring software refused, in the order they were
    // appended, and how many there are.
    QVector<SVelmoraMsg> setAsideEvents() const override;
    int setAsideCount() const;

    QString filePath() const { return journalPath; }
    QString spoolDirectory() const override { return directory; }
    // Compaction waits until the file is larger than this, so that a small
    // file is not rewritten for every few marks.
    void setCompactionThreshold(qint64 bytes);
    // Rewrites the file with only the events pending and set aside now,
    // whatever its size, and returns once that is done. False, with
    // errorString(), when it could not; the journal then goes on in the old
    // file.
    bool compact();
    // Returns once no compaction is running in the background.
    void waitForCompaction();

    // The steps of a compaction, in order, for tests that stop the process
    // at each. A compaction in the background passes them in its own thread,
    // up to ReplacementFlushed and at DirectoryFlushed without the lock.
    using CompactionStep = VelmoraJournalCompaction::Step;
    using CompactionHook = VelmoraJournalCompaction::Hook;
    void setCompactionHook(CompactionHook hook);

    static const QString kFileName;
    static constexpr qint64 kDefaultCompactionThreshold = 64 * 1024;

private:
    using State = VelmoraJournalIndex::State;

    bool openLocked();
    void markLocked(qint64 journalId, VelmoraEventJournalRecord::Type mark);
    bool compactLocked();
    bool isWastefulLocked() const;
    void compactIfWastefulLocked();
    void compactInBackground();
    // A compaction of what is held now.
    VelmoraJournalCompaction compactionLocked() const;
    // Puts the replacement in the journal's place and follows it.
    bool finishReplacementLocked(VelmoraJournalCompaction &compaction);
    void failedCompactionLocked(const QString &error);
    // Cuts off what a failed write may have left behind the last good record.
    void discardTailLocked();

    const QString directory;
    const QString journalPath;

    // Guards everything below.
    mutable std::mutex mutex;
    DurableFile file;
    // Where the next record goes: just past the last intact record.
    qint64 fileEnd = 0;
    qint64 nextJournalId = 1;
    bool marksUnflushed = false;
    // A compaction's rename is on the disk only once the directory is
    // flushed; until then no append may count as durable.
    bool renameUnflushed = false;
    // True once the file has been read: from then on the events held in
    // memory are the truth, and a file opened again is rewritten from them.
    bool loaded = false;
    qint64 compactionThreshold = kDefaultCompactionThreshold;
    // The events held; it has no lock of its own.
    VelmoraJournalIndex held;
    CompactionHook compactionHook;
    // Counts the files the journal has been replaced by, so that a
    // compaction can tell that its snapshot was overtaken.
    quint64 fileGeneration = 0;
    // After a failed compaction the next waits until the file is this big.
    qint64 retryCompactionAt = 0;
    bool compactionRunning = false;
    bool stopping = false;
    std::condition_variable compactionIdle;
    std::thread compactionThread;
    QString lastError;
    Damage foundDamage;
};

#endif // VELMORAEVENTJOURNAL_H
