#ifndef VELMORAJOURNALINDEX_H
#define VELMORAJOURNALINDEX_H

#include "svelmoramsg.h"
#include "velmoraeventjournalrecord.h"

#include <QByteArray>
#include <QHash>
#include <QVector>

#include <vector>

// The events the event journal holds, in memory: each one's record as it is
// in the file, its journal id and its state, in journal id order, with the
// counts of pending events (in all and per device ID), of set-aside events,
// and what a compacted file would take.
//
// Each event is kept as the bytes of its record, its id and the index of its
// device ID, nothing else; events() and heldEvent() decode them.
//
// No I/O and no lock: the journal owns one of these and calls it only under
// its own mutex.
class VelmoraJournalIndex
{
public:
    enum class State : quint8 { Pending, SetAside, Settled };

    // An event a compacted file keeps: its record as it is, followed by a
    // refused mark when it is set aside.
    struct KeptRecord
    {
        qint64 journalId = 0;
        QByteArray bytes;
        bool setAside = false;
    };

    // Forgets every event; the device IDs seen stay known, with no events.
    void clear();
    // An event record, as read or appended: the event is pending. deviceId
    // is the device ID's UTF-8 bytes inside the record or anywhere else.
    void add(qint64 journalId, QByteArray record, const char *deviceId, int deviceIdSize);
    // Moves the event with this id as the mark says, and whether it did:
    // unknown ids and marks that do not fit the event's state change nothing.
    bool applyMark(qint64 journalId, VelmoraEventJournalRecord::Type mark);
    // Whether a mark moves an event in state, and to which state.
    static bool stateAfterMark(State state, VelmoraEventJournalRecord::Type mark, State *after);
    // Takes settled events out once they are half of all, which keeps both
    // the sweeps and the lookups cheap; until then they stay among the rest.
    void dropSettled();

    // The events in state, in journal id order.
    QVector<SVelmoraMsg> events(State state) const;
    // The event with this id while it is pending or set aside.
    bool heldEvent(qint64 journalId, SVelmoraMsg *event) const;
    // What a compacted file holds after its header, in journal id order. The
    // records' bytes are shared, not copied.
    std::vector<KeptRecord> keptRecords() const;

    int pendingCount() const { return pendingTotal; }
    // deviceId as UTF-8.
    int pendingCountForDevice(const QByteArray &deviceId) const;
    int setAsideCount() const { return setAsideTotal; }
    // What a compacted file would take: header, held records, refused marks.
    qint64 liveBytes() const { return liveTotal; }

private:
    struct HeldEvent
    {
        qint64 journalId = 0;
        // The event's record, frame included, as it is in the file.
        QByteArray record;
        // Index into pendingPerDevice.
        quint32 device = 0;
        State state = State::Pending;
    };

    std::vector<HeldEvent>::iterator find(qint64 journalId);
    static bool isBefore(const HeldEvent &heldEvent, qint64 journalId);
    quint32 deviceIndex(const char *deviceId, int size);
    // Moves the event to state, keeping the counts and liveTotal right.
    void setState(HeldEvent &heldEvent, State state);

    std::vector<HeldEvent> held;
    int settledCount = 0;
    int setAsideTotal = 0;
    int pendingTotal = 0;
    // Every device ID seen in this run, as UTF-8, and its pending events.
    QHash<QByteArray, quint32> deviceIndexes;
    std::vector<int> pendingPerDevice;
    qint64 liveTotal = VelmoraEventJournalRecord::kIdRecordSize;
};

#endif // VELMORAJOURNALINDEX_H
