#ifndef VELMORAEVENTSTORE_H
#define VELMORAEVENTSTORE_H

#include "svelmoramsg.h"

#include <QString>
#include <QVector>

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

    // The monitoring software acknowledged the event with 0x06.
    virtual void markDelivered(qint64 journalId) = 0;
    // The monitoring software refused the event for good; it is set aside.
    virtual void markRefused(qint64 journalId) = 0;

    // Events neither delivered nor refused, in the order they were appended.
    virtual QVector<SVelmoraMsg> pendingEvents() const = 0;
};

#endif // VELMORAEVENTSTORE_H
