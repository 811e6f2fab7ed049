#ifndef VELMORAEVENTSTORE_H
#define VELMORAEVENTSTORE_H

#include "svelmoramsg.h"

#include <QString>
#include <QVector>

#include <algorithm>

// Durable keeping of device events between the device's ACK and the
// monitoring software's ACK. The network receiver appends every event before
// it acknowledges the device; the serial side marks each one delivered or
// refused. Implementations are called from both worker threads.
class VelmoraEventStore
{
public:
    virtual ~VelmoraEventStore() = default;

    // Appends the events and makes them durable before returning, setting
    // each one's journalId. On false none of them may be acknowledged to the
    // device; errorString() says why.
    virtual bool appendDurably(QVector<SVelmoraMsg> &events) = 0;
    virtual QString errorString() const = 0;

    // The event's line is about to go to the monitoring software; a store
    // shared by several instances tells a takeover which lines may arrive
    // twice.
    virtual void markSent(qint64 journalId) { Q_UNUSED(journalId) }
    // The monitoring software acknowledged the event with 0x06.
    virtual void markDelivered(qint64 journalId) = 0;
    // The monitoring software refused the event for good; it is set aside.
    virtual void markRefused(qint64 journalId) = 0;

    // The operator sent a set-aside event again: it is pending once more.
    virtual void markRequeued(qint64 journalId) { Q_UNUSED(journalId) }
    // The operator let go of a set-aside event; it need not be kept.
    virtual void markReleased(qint64 journalId) { Q_UNUSED(journalId) }

    // Events neither delivered nor refused, in the order they were appended.
    virtual QVector<SVelmoraMsg> pendingEvents() const = 0;
    // Events refused and set aside, in the order they were appended.
    virtual QVector<SVelmoraMsg> setAsideEvents() const { return {}; }

    // How many of them there are, in all and from one device ID. A store
    // that keeps many events answers these without copying them.
    virtual int pendingCount() const { return pendingEvents().size(); }
    virtual int pendingCountForDevice(const QString &deviceId) const
    {
        const QVector<SVelmoraMsg> events = pendingEvents();
        return static_cast<int>(std::count_if(events.cbegin(), events.cend(), [&](const SVelmoraMsg &event) {
            return event.deviceId == deviceId;
        }));
    }
    // The directory whose disk holds the events, so that its free space can
    // be watched; empty for a store that keeps them nowhere on a disk.
    virtual QString spoolDirectory() const { return QString(); }
    // The event with this id while it is pending or set aside, so that a
    // queue can hold ids and take each event when it is its turn. False once
    // it is delivered, or when the id is unknown.
    virtual bool heldEvent(qint64 journalId, SVelmoraMsg *event) const
    {
        for (const SVelmoraMsg &pending : pendingEvents()) {
            if (pending.journalId == journalId) {
                *event = pending;
                return true;
            }
        }
        return false;
    }
};

#endif // VELMORAEVENTSTORE_H
