#ifndef VELMORADEVICEACTIVITY_H
#define VELMORADEVICEACTIVITY_H

#include "svelmoraframeoutcome.h"

#include <QVector>
#include <QtGlobal>

// What one connection has done, kept in its client record: a few counters
// and times, updated per read at a cost that does not depend on how many
// devices are connected. Times are milliseconds since 1970 UTC, 0 for
// "not yet".
struct VelmoraDeviceActivity
{
    qint64 connectedAt = 0;
    qint64 lastFrameAt = 0;
    qint64 lastTestAt = 0;
    quint64 framesReceived = 0;

    // Counts the frames of one read that were understood, and notes a
    // periodic test among them.
    void noteOutcomes(const QVector<SVelmoraFrameOutcome> &outcomes, qint64 at);

    // The event is a periodic test: event code 602, whatever its qualifier.
    static bool isPeriodicTest(const SVelmoraMsg &event);
};

#endif // VELMORADEVICEACTIVITY_H
