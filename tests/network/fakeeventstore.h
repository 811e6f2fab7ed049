#ifndef FAKEEVENTSTORE_H
#define FAKEEVENTSTORE_H

#include "velmoraeventstore.h"

#include <QTcpSocket>

// Stands in for the journal where a real one cannot show the point: a disk
// that fails, or the moment of the append as seen from the device.
class FakeEventStore : public VelmoraEventStore
{
public:
    bool appendDurably(QVector<SVelmoraMsg> &events) override
    {
        batchSizes << events.size();
        // Loopback delivers a written ACK at once, so a device socket with
        // something to read here got its ACK before the event was kept.
        if (observedDevice && observedDevice->waitForReadyRead(50))
            ackBeforeAppend = true;
        if (!failing.isEmpty())
            return false;
        for (SVelmoraMsg &event : events)
            event.journalId = nextId++;
        return true;
    }
    QString errorString() const override { return failing; }
    void markDelivered(qint64) override {}
    void markRefused(qint64) override {}
    QVector<SVelmoraMsg> pendingEvents() const override { return {}; }

    QString failing;  // non-empty: every append fails with this error
    QTcpSocket *observedDevice = nullptr;
    QVector<int> batchSizes;
    bool ackBeforeAppend = false;
    qint64 nextId = 100;
};

#endif // FAKEEVENTSTORE_H
