#ifndef VELMORADEPARTEDDEVICES_H
#define VELMORADEPARTEDDEVICES_H

#include "svelmoradevicesnapshot.h"

#include <QVector>
#include <QtGlobal>

#include <deque>

// The connections that ended lately, for the devices window: kept for a
// day at most, and never more than a fixed number of them, so that a
// restart that drops thousands of devices, or a device that reconnects all
// day, cannot grow the list without end. The oldest go first.
class VelmoraDepartedDevices
{
public:
    static constexpr qint64 kDefaultMaxAgeMs = 24LL * 60 * 60 * 1000;
    static constexpr int kDefaultMaxCount = 2000;

    void setLimits(qint64 maxAgeMs, int maxCount);

    // A connection that ended at row.disconnectedAt, which is not earlier
    // than that of the row added before it.
    void add(const SVelmoraDeviceRow &row);
    // Those that ended within the age limit before now, newest first.
    QVector<SVelmoraDeviceRow> rows(qint64 now);
    int size() const { return static_cast<int>(departed.size()); }

private:
    void dropOlderThan(qint64 now);

    std::deque<SVelmoraDeviceRow> departed;
    qint64 maxAgeMs = kDefaultMaxAgeMs;
    int maxCount = kDefaultMaxCount;
};

#endif // VELMORADEPARTEDDEVICES_H
