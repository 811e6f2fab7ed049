#ifndef VELMORADEVICESNAPSHOTS_H
#define VELMORADEVICESNAPSHOTS_H

#include "svelmoradevicesnapshot.h"
#include "velmoradeparteddevices.h"

struct SVelmoraClient;
class VelmoraConnectionTable;

// The copies of the device records the devices window is shown: rows of
// the open connections, taken from the table when asked for (their cost
// grows with the number of devices), and the rows of those that ended,
// kept as they leave.
class VelmoraDeviceSnapshots
{
public:
    // How long, and how many, connections that ended are kept.
    void setDepartedLimits(qint64 maxAgeMs, int maxCount);

    // The connection of the record ended at the given time.
    void noteDeparted(const SVelmoraClient &client, qint64 at);

    SVelmoraDeviceSnapshot take(const VelmoraConnectionTable &table, qint64 now);

    static SVelmoraDeviceRow rowOf(const SVelmoraClient &client);

private:
    VelmoraDepartedDevices departed;
};

#endif // VELMORADEVICESNAPSHOTS_H
