#ifndef VELMORAHELDQUEUE_H
#define VELMORAHELDQUEUE_H

#include "svelmoramsg.h"

#include <QSet>

#include <deque>

// The events waiting for the monitoring software, and the rules that say
// when the software counts as absent and when as back. No port, no timer:
// the worker reports what happened on the line and acts on the answers.
//
// Events go out first in, first out. When one stays unacknowledged after
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
    bool isEmpty() const { return events.empty(); }
    int size() const { return static_cast<int>(events.size()); }
    // The event to write next; only while not empty.
    const SVelmoraMsg &next() const { return events.front().msg; }

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
    struct Held
    {
        SVelmoraMsg msg;
        int refusalsInRow = 0;
    };

    Notice leaveAbsence();

    std::deque<Held> events;
    QSet<qint64> heldJournalIds;
    bool absent = false;
    // The absence line is in the log and its recovery line is not yet.
    bool absenceReported = false;
};

#endif // VELMORAHELDQUEUE_H
