#ifndef VELMORAHELDEVENTS_H
#define VELMORAHELDEVENTS_H

#include "svelmoracomsettings.h"
#include "svelmoraheldrow.h"
#include "svelmoramsg.h"
#include "velmoraheldqueue.h"

#include <QObject>

#include <atomic>

class VelmoraClock;
class VelmoraComReport;
class VelmoraEventStore;
class VelmoraTimer;

// The serial worker's events: the held and set-aside ones (kept by the
// queue, their one owner), the marks they leave in the event store, the
// operator's answers to set-aside events, and the lists the Events window
// is sent while it is shown.
class VelmoraHeldEvents : public QObject
{
    Q_OBJECT

public:
    // Held-event lists go out at most this often while they are wanted, and
    // after a long list no sooner than a millisecond per kHeldRowsPerMs rows.
    static constexpr int kHeldRowsIntervalMs = 250;
    static constexpr int kHeldRowsPerMs = 50;

    // settings is the worker's record; its line texts name the events.
    VelmoraHeldEvents(VelmoraClock &clock, const SVelmoraComSettings &settings, QObject *parent = nullptr);

    // The store's pending events are held at once, its set-aside ones set
    // aside again. Null: nothing is marked.
    void setEventStore(VelmoraEventStore *store);
    // Everything held is dropped and the store's pending and set-aside
    // events are held anew: at a takeover, when the store may have changed
    // under this worker. With dropOnly nothing is held afterwards.
    void reload(bool dropOnly);
    // The line of this held event is about to go out.
    void noteSending(const SVelmoraMsg &msg);

    VelmoraHeldQueue &queue() { return heldQueue; }
    const VelmoraHeldQueue &queue() const { return heldQueue; }
    // False when that journal entry is already held.
    bool hold(const SVelmoraMsg &msg);
    // Events waiting for the monitoring software; safe from any thread.
    int count() const { return heldCount.load(); }

    // next() was acknowledged: it leaves the queue and is marked delivered.
    void finishNext();
    // The event on trial left the held events for the set-aside ones: said
    // and marked refused.
    void noteSetAside(const SVelmoraMsg &msg);
    // The log line a change of the software's state owes the operator.
    void reportNotice(VelmoraHeldQueue::Notice notice);

    // The operator's answers to a set-aside event, named by its row key.
    // True when the event is held again.
    bool sendAgain(qint64 key);
    void release(qint64 key);

    void setRowsWanted(bool wanted);
    // The held events changed: a list is due, at most every kHeldRowsIntervalMs.
    void noteChanged();
    // The count changed too.
    void noteCountChanged();

signals:
    void reportSignal(const VelmoraComReport &line);
    // The number of set-aside events changed.
    void setAsideChangedSignal();
    // Every held and set-aside event, oldest first; only while wanted.
    void heldRowsSignal(SVelmoraHeldRows rows);

private:
    void sendRows();

    const SVelmoraComSettings &settings;
    VelmoraHeldQueue heldQueue;
    VelmoraEventStore *eventStore = nullptr;
    std::atomic<int> heldCount{0};
    bool rowsWanted = false;
    VelmoraTimer *rowsTimer = nullptr;
};

#endif // VELMORAHELDEVENTS_H
