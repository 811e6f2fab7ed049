#ifndef VELMORAEVENTJOURNAL_H
#define VELMORAEVENTJOURNAL_H

#include "durablefile.h"
#include "velmoraeventstore.h"

#include <QMap>
#include <QString>

#include <mutex>

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
// Once every event in the file is delivered or refused and the file has grown
// beyond the compaction threshold, it is replaced in one step by a file that
// holds only the header record.
//
// All public calls are safe from any thread; one mutex guards everything.
// It is a std::mutex so that ThreadSanitizer can follow it; Qt's own mutex
// locks partly inside the uninstrumented Qt library.
class VelmoraEventJournal : public VelmoraEventStore
{
public:
    explicit VelmoraEventJournal(const QString &directory);
    ~VelmoraEventJournal() override;

    // Creates the directory when it is missing, opens the journal and reads
    // what it holds. A torn or damaged last record is cut off so that later
    // appends follow the last intact one. False, with errorString(), when the
    // directory or the file cannot be used; appendDurably() then tries again.
    bool open();
    bool isOpen() const;

    bool appendDurably(QVector<SVelmoraMsg> &events) override;
    QString errorString() const override;
    void markDelivered(qint64 journalId) override;
    void markRefused(qint64 journalId) override;
    QVector<SVelmoraMsg> pendingEvents() const override;

    QString filePath() const;
    // Compaction waits until the file is larger than this; 0 compacts every
    // time the last pending event is settled.
    void setCompactionThreshold(qint64 bytes);

    static const QString kFileName;
    static constexpr qint64 kDefaultCompactionThreshold = 64 * 1024;

private:
    bool openLocked();
    void markLocked(qint64 journalId, bool delivered);
    bool compactLocked();
    // Cuts off what a failed write may have left behind the last good record.
    void discardTailLocked();

    const QString directory;
    const QString journalPath;

    mutable std::mutex mutex;
    DurableFile file;
    // Where the next record goes: just past the last intact record.
    qint64 fileEnd = 0;
    qint64 nextJournalId = 1;
    bool marksUnflushed = false;
    qint64 compactionThreshold = kDefaultCompactionThreshold;
    // Journal ids grow in file order, so the map keeps the original order.
    QMap<qint64, SVelmoraMsg> pending;
    QString lastError;
};

#endif // VELMORAEVENTJOURNAL_H
