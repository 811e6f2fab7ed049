#ifndef VELMORAHELDQUEUE_H
#define VELMORAHELDQUEUE_H

#include "svelmoramsg.h"

#include <QByteArray>
#include <QHash>
#include <QSet>

#include <deque>
#include <vector>

// The events waiting for the monitoring software, and the rules that say
// when the software counts as absent and when as back. No port, no timer:
// the worker reports what happened on the line and acts on the answers.
//
// Events go out so that no device holds back another: alarms and restores
// before periodic tests, the devices taking turns one event at a time, and
// each device's events of one kind in the order they came. When one stays
// unacknowledged after
// its three writes the software is absent: no event line is written until
// a keepalive (or a retry of the first event) is acknowledged. An event
// answered 0x15 on kRefusalNakCount writes in a row, while nothing says the
// software is away, is set aside as refused.
class VelmoraHeldQueue
{
public:
    static constexpr int kRefusalNakCount = 20;

    // A line the log owes the operator after a change of state.
    enum class Notice {
        None,
        Absent, // the software stopped acknowledging
        Back,   // the software acknowledges again
    };

    // False, and nothing held, when that journal entry is already held: the
    // store's pending events may also still be on their way from the network.
    bool add(const SVelmoraMsg &msg);
    bool isEmpty() const { return count == 0; }
    int size() const { return count; }
    // The event to write next; only while not empty.
    SVelmoraMsg next() const;

    // Event lines may be written: the software is not known to be absent.
    bool mayWriteEvents() const { return !absent; }

    // One write of next() answered with a refusal (0x15) or not. True once
    // that event has been refused often enough to be set aside.
    bool countAnswer(bool refusal);

    struct Finished
    {
        SVelmoraMsg msg;
        Notice notice = Notice::None;
    };
    // next() acknowledged, or set aside as refused: it leaves the queue, and
    // either way the software is there.
    Finished takeNext();
    // next() went unacknowledged after all its writes.
    Notice failNext();
    // A keepalive's outcome. An acknowledged one ends an absence.
    Notice keepaliveAnswered(bool acknowledged);
    // A freshly opened port learns afresh whether the software is there; an
    // absence already reported stays reported until it answers.
    void portOpened();

private:
    // What is held of an event: its record's text fields packed into one
    // block, the device ID being the key it is kept under.
    struct Held
    {
        QByteArray fields;
        QDateTime receivedAt;
        qint64 journalId = 0;
        int refusalsInRow = 0;
    };
    // One device's events of one kind, oldest at head.
    struct DeviceEvents
    {
        std::vector<Held> events;
        std::size_t head = 0;
    };
    // The events of one kind, and the devices with any in their turn's order.
    struct Lane
    {
        QHash<QString, DeviceEvents> devices;
        std::deque<QString> turns;
    };
    enum LaneIndex { AlarmLane, TestLane, LaneCount };

    static LaneIndex laneFor(const SVelmoraMsg &msg);
    // The lane next() comes from; only while not empty.
    LaneIndex nextLane() const
    {
        return lanes[AlarmLane].turns.empty() ? TestLane : AlarmLane;
    }
    Held &head();

    Notice leaveAbsence();

    Lane lanes[LaneCount];
    int count = 0;
    QSet<qint64> heldJournalIds;
    bool absent = false;
    // The absence line is in the log and its recovery line is not yet.
    bool absenceReported = false;
};

#endif // VELMORAHELDQUEUE_H
