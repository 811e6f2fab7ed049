#include "velmoradeparteddevices.h"

#include <algorithm>

void VelmoraDepartedDevices::setLimits(qint64 newMaxAgeMs, int newMaxCount)
{
    maxAgeMs = std::max<qint64>(0, newMaxAgeMs);
    maxCount = std::max(0, newMaxCount);
    while (static_cast<int>(departed.size()) > maxCount)
        departed.pop_front();
}

void VelmoraDepartedDevices::add(const SVelmoraDeviceRow &row)
{
    if (maxCount == 0)
        return;
    departed.push_back(row);
    while (static_cast<int>(departed.size()) > maxCount)
        departed.pop_front();
    dropOlderThan(row.disconnectedAt);
}

QVector<SVelmoraDeviceRow> VelmoraDepartedDevices::rows(qint64 now)
{
    dropOlderThan(now);
    QVector<SVelmoraDeviceRow> newestFirst;
    newestFirst.reserve(static_cast<int>(departed.size()));
    for (auto row = departed.crbegin(); row != departed.crend(); ++row)
        newestFirst.append(*row);
    return newestFirst;
}

void VelmoraDepartedDevices::dropOlderThan(qint64 now)
{
    while (!departed.empty() && now - departed.front().disconnectedAt > maxAgeMs)
        departed.pop_front();
}
