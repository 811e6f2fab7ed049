#ifndef VELMORAHELDQUEUE_H
#define VELMORAHELDQUEUE_H

#include "svelmoraheldrow.h"
#include "svelmoramsg.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QVector>

#include <deque>
#include <functional>
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
// a keepalive (or a retry of the first event) is acknowledged.
//
// An event answered 0x15 on kRefusalNakCount writes in a row is refused. A
// refused event is not set aside at once, because the fault may be the
// line's (a wrong receiver or line number, a time option the software does
// not expect) or the software's passing trouble (its database in
// maintenance) rather than the event's: it waits on trial, still held, while
// the events behind it are written. When one of them is acknowledged, the
// software takes events again, and the event on trial is written once more
// at once: only a refusal of that write sets it aside. When a second,
// different event is refused too, the line is at fault: everything stays
// held in order, the event on trial first, nothing is set aside, and only
// that first event is tried, on the retry timer, until an event line is
// acknowledged.
//
// A set-aside event stays here, out of the fair order, until the operator
// sends it again (it is held anew, last) or lets it go.
class VelmoraHeldQueue
{
public:
    static constexpr int kRefusalNakCount = 20;

    // A line the log owes the operator after a change of state.
    enum class Notice {
        None,
        Absent,        // the software stopped acknowledging
        Back,          // the software acknowledges again
        LineFaultOver, // an event line was acknowledged after a line fault
    };

    // What became of an event refused for good.
    enum class Refusal {
        OnTrial,   // waits for the next event to tell the line's fault from its own
        LineFault, // a second event was refused: the line is at fault, said once
        StillHeld, // the event on trial refused again; it stays where it is
        SetAside,  // the event on trial refused again after a different one
                   // was acknowledged: it is the event's fault, set aside
    };

    // One held event as a list shows it.
    struct HeldView
    {
        SVelmoraMsg msg;
        // Writes so far since it was held.
        int attempts = 0;
        bool onTrial = false;
    };

    // False, and nothing held, when that journal entry is already held: the
    // store's pending events may also still be on their way from the network.
    bool add(const SVelmoraMsg &msg);
    bool isEmpty() const { return count == 0; }
    int size() const { return count; }
    // The event to write next; only while not empty.
    SVelmoraMsg next() const;

    // Event lines may be written as they come: the software is not known to
    // be absent, the line is not at fault, and next() is not only the event
    // on trial.
    bool mayWriteEvents() const
    {
        return !absent && !lineFault && !(hasTrial && count == 1 && !trialRecheck);
    }
    // Nothing is written as it comes, and the first event is to be tried on
    // the retry timer; with keepalives, an absence ends by a keepalive instead.
    bool retriesOnTimer(bool keepalives) const
    {
        return count > 0
            && (lineFault || (count == trialCount() && !trialRecheck) || (absent && !keepalives));
    }
    bool inLineFault() const { return lineFault; }

    // One write of next() answered with a refusal (0x15) or not. True once
    // that event has been refused often enough to count as refused: the
    // event on trial written again after a different one was acknowledged
    // needs only one refusal.
    bool countAnswer(bool refusal);
    // next() was refused for good (countAnswer() said so). With SetAside the
    // event has left the held events for the set-aside ones, as setAsideMsg.
    Refusal refuseNext(SVelmoraMsg *setAsideMsg = nullptr);

    struct Finished
    {
        SVelmoraMsg msg;
        Notice notice = Notice::None;
    };
    // next() acknowledged: it leaves the queue, and the software is there.
    Finished takeNext();
    // next() went unacknowledged after all its writes.
    Notice failNext();
    // A keepalive's outcome. An acknowledged one ends an absence.
    Notice keepaliveAnswered(bool acknowledged);
    // A freshly opened port learns afresh whether the software is there; an
    // absence already reported stays reported until it answers.
    void portOpened();

    // Every held event, the one on trial included, in the order they came
    // (by receive time, then journal entry).
    QVector<HeldView> heldEvents() const;

    // Sets an event aside for the operator, as one refused before a restart.
    void setAside(const SVelmoraMsg &msg, int attempts = 0);
    int setAsideCount() const { return setAsideEvents.size(); }
    // The set-aside event with this row key, taken out; false when there is
    // none (the operator answered it already).
    bool takeSetAside(qint64 key, SVelmoraMsg *msg);
    // Every held and set-aside event as the Events window lists it, in the
    // order they came; lineOf gives each one's line.
    SVelmoraHeldRows rows(const std::function<QString(const SVelmoraMsg &)> &lineOf) const;

private:
    // What is held of an event: its journal form (VelmoraEventCodec), so a
    // long backlog costs one allocation an event. It is the form the event
    // store made (SVelmoraMsg::encoded: the journal's own record, which the
    // form ends from formStart on), shared rather than made again; only an
    // event no store has kept is encoded here.
    struct Held
    {
        QByteArray encoded;
        qint64 journalId = 0;
        int formStart = 0;
        int refusalsInRow = 0;
        int attempts = 0;
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
    // The event on trial comes first only during a line fault, when it is
    // all there is, or when it is due its one more write.
    bool trialFirst() const { return hasTrial && (lineFault || count == 1 || trialRecheck); }
    int trialCount() const { return hasTrial ? 1 : 0; }
    static SVelmoraMsg unpack(const Held &held);
    // Takes next() out of the lanes; only while not empty and not trialFirst().
    Held takeFromLanes();

    Notice leaveAbsence();

    Lane lanes[LaneCount];
    int count = 0;
    QSet<qint64> heldJournalIds;
    bool absent = false;
    // The absence line is in the log and its recovery line is not yet.
    bool absenceReported = false;
    bool hasTrial = false;
    Held trial;
    // A different event was acknowledged while this one was on trial: it is
    // written once more before it can be set aside.
    bool trialRecheck = false;
    bool lineFault = false;

    struct SetAside
    {
        SVelmoraMsg msg;
        int attempts = 0;
        // The row key: the journal entry, or for an event never journaled a
        // number counting down from -1.
        qint64 key = 0;
    };
    // Oldest first.
    QVector<SetAside> setAsideEvents;
    qint64 nextLocalKey = -1;
};

#endif // VELMORAHELDQUEUE_H
