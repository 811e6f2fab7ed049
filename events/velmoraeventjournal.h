#ifndef VELMORAEVENTJOURNAL_H
#define VELMORAEVENTJOURNAL_H

#include "durablefile.h"
#include "velmoraeventjournalrecord.h"
#include "velmoraeventstore.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

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
// Each event held is kept in memory as the bytes of its record, its id and
// the index of its device ID, nothing else; pendingEvents() decodes them.
// The counts of pending events, in all and per device ID, are kept up to
// date as events come and go.
//
// All public calls are safe from any thread; one mutex guards everything.
// It is a std::mutex so that ThreadSanitizer can follow it; Qt's own mutex
// locks partly inside the uninstrumented Qt library.
class VelmoraJournalDamage;

class VelmoraEventJournal : public VelmoraEventStore
{
public:
    // What the read of the file at open() found damaged or cut. Records
    // torn at the end by a crash during an append are not counted.
    struct Damage
    {
        int records = 0;
        // Where the first of them start (at most
        // VelmoraJournalDamage::kMaxOffsets).
        QVector<qint64> offsets;
        // The copy of the file as found, kept beside it and never touched
        // again; empty when it could not be made, and copyError says why.
        QString keptCopy;
        QString copyError;
    };

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

    QString filePath() const;
    QString spoolDirectory() const override;
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
    enum class CompactionStep {
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
    using CompactionHook = std::function<void(CompactionStep)>;
    void setCompactionHook(CompactionHook hook);

    static const QString kFileName;
    static constexpr qint64 kDefaultCompactionThreshold = 64 * 1024;

private:
    enum class State : quint8 { Pending, SetAside, Settled };
    struct HeldEvent
    {
        qint64 journalId = 0;
        // The event's record, frame included, as it is in the file.
        QByteArray record;
        // Index into pendingPerDevice.
        quint32 device = 0;
        State state = State::Pending;
    };

    bool openLocked();
    bool readFileLocked();
    // Counts what the read found besides intact records and keeps a copy
    // of a damaged file; false when the file cannot be read again.
    bool tallyDamageLocked(VelmoraJournalDamage &damage, qint64 fileSize);
    QString keepDamagedCopyLocked(qint64 fileSize, QString *error);
    // Whether a mark moves an event in state, and to which state.
    static bool stateAfterMark(State state, VelmoraEventJournalRecord::Type mark, State *after);
    void markLocked(qint64 journalId, VelmoraEventJournalRecord::Type mark);
    // What a compaction writes, taken under the lock.
    struct Replacement
    {
        struct HeldRecord
        {
            qint64 journalId = 0;
            QByteArray bytes;
            bool setAside = false;
        };
        QString path;
        std::vector<HeldRecord> records;
        qint64 nextJournalId = 0;
        // The journal's end when the records were taken: what lies after it
        // was written meanwhile.
        qint64 journalEnd = 0;
        quint64 generation = 0;
        CompactionHook hook;
    };

    bool compactLocked();
    bool isWastefulLocked() const;
    void compactIfWastefulLocked();
    void compactInBackground();
    Replacement snapshotLocked() const;
    static bool writeReplacement(const Replacement &replacement, DurableFile &output, qint64 *size,
                                 QString *error);
    bool finishReplacementLocked(const Replacement &replacement, DurableFile &output, qint64 outputSize);
    void failedCompactionLocked(const QString &error);
    static void step(const Replacement &replacement, CompactionStep step);
    QString replacementPath() const;
    // Cuts off what a failed write may have left behind the last good record.
    void discardTailLocked();

    // Held events in journal id order, settled ones among them until
    // dropSettledLocked() takes them out.
    std::vector<HeldEvent>::iterator findLocked(qint64 journalId);
    static bool isBefore(const HeldEvent &heldEvent, qint64 journalId);
    quint32 deviceIndexLocked(const char *deviceId, int size);
    void addLocked(qint64 journalId, QByteArray record, quint32 device);
    // Moves the event to state, keeping the counts and liveBytes right.
    void setStateLocked(HeldEvent &heldEvent, State state);
    void dropSettledLocked();
    QVector<SVelmoraMsg> eventsLocked(State state) const;

    const QString directory;
    const QString journalPath;

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
    std::vector<HeldEvent> held;
    int settledCount = 0;
    int setAsideTotal = 0;
    int pendingTotal = 0;
    // Every device ID seen in this run, as UTF-8, and its pending events.
    QHash<QByteArray, quint32> deviceIndexes;
    std::vector<int> pendingPerDevice;
    // What a compacted file would take: header, held records, refused marks.
    qint64 liveBytes = 0;
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
