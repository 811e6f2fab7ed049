#include "velmorabacklogguard.h"

#include "diskspace.h"
#include "velmoraeventstore.h"
#include "velmoralog.h"
#include "velmorareceiverreport.h"

#include <QHash>

#include <algorithm>

namespace {

const char kTotalReached[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Backlog full: %2 events wait for the serial line (limit %3), new events get no ACK until it drains.");
const char kTotalLeft[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Backlog no longer full: %2 events wait for the serial line (limit %3), new events are acknowledged "
    "again.");
const char kDeviceReached[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Backlog full for device ID %2: %3 of its events wait for the serial line (limit %4), its new events "
    "get no ACK until they drain.");
const char kDeviceLeft[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Backlog no longer full for device ID %2: %3 of its events wait for the serial line (limit %4), its "
    "new events are acknowledged again.");
const char kDiskReached[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Low disk space for the spool %2: %3 MiB free (at least %4 MiB needed), new events get no ACK until "
    "there is room.");
const char kDiskLeft[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Disk space for the spool %2 sufficient again: %3 MiB free, new events are acknowledged again.");

constexpr double kBytesPerMiB = 1024.0 * 1024.0;

QString mebibytes(qint64 bytes)
{
    return QString::number(static_cast<double>(bytes) / kBytesPerMiB, 'f', 1);
}

} // namespace

void VelmoraBacklogGuard::setLimits(const Limits &newLimits)
{
    current = newLimits;
}

int VelmoraBacklogGuard::resumeLevel(int limit)
{
    return limit - std::max(1, limit / 10);
}

qint64 VelmoraBacklogGuard::freeBytes(const VelmoraEventStore &store) const
{
    const QString directory = store.spoolDirectory();
    if (directory.isEmpty())
        return -1;
    if (current.freeSpace)
        return current.freeSpace(directory);
    return DiskSpace::freeBytes(directory, nullptr);
}

QVector<bool> VelmoraBacklogGuard::admit(const QVector<SVelmoraMsg> &events, const VelmoraEventStore &store,
                                         QVector<SVelmoraLogLine> *lines)
{
    QVector<bool> admitted(events.size(), false);
    if (events.isEmpty())
        return admitted;

    const qint64 free = freeBytes(store);
    if (free >= 0 && free < current.minFreeBytes) {
        if (!diskInForce) {
            diskInForce = true;
            *lines << VelmoraReceiverReport::tagged(kDiskReached, kLogError,
                                              {store.spoolDirectory(), mebibytes(free),
                                               mebibytes(current.minFreeBytes)});
        }
        return admitted;
    }

    // Counted once per batch: the serial side only ever lowers the counts
    // meanwhile, so the limits hold.
    int pending = store.pendingCount();
    QHash<QString, int> pendingPerDevice;
    for (int index = 0; index < events.size(); ++index) {
        const QString &device = events.at(index).deviceId;
        auto perDevice = pendingPerDevice.find(device);
        if (perDevice == pendingPerDevice.end())
            perDevice = pendingPerDevice.insert(device, store.pendingCountForDevice(device));
        if (pending >= current.maxPending) {
            if (!totalInForce) {
                totalInForce = true;
                *lines << VelmoraReceiverReport::tagged(kTotalReached, kLogError,
                                                  {QString::number(pending), QString::number(current.maxPending)});
            }
            continue;
        }
        if (perDevice.value() >= current.maxPendingPerDevice) {
            if (!devicesInForce.contains(device)) {
                devicesInForce.insert(device);
                *lines << VelmoraReceiverReport::tagged(kDeviceReached, kLogError,
                                                  {device, QString::number(perDevice.value()),
                                                   QString::number(current.maxPendingPerDevice)});
            }
            continue;
        }
        admitted[index] = true;
        ++pending;
        ++perDevice.value();
    }
    return admitted;
}

void VelmoraBacklogGuard::recheck(const VelmoraEventStore &store, QVector<SVelmoraLogLine> *lines)
{
    if (diskInForce) {
        const qint64 free = freeBytes(store);
        if (free >= current.minFreeBytes + current.minFreeBytes / 10) {
            diskInForce = false;
            *lines << VelmoraReceiverReport::tagged(kDiskLeft, kLogInfo, {store.spoolDirectory(), mebibytes(free)});
        }
    }
    if (totalInForce) {
        const int pending = store.pendingCount();
        if (pending <= resumeLevel(current.maxPending)) {
            totalInForce = false;
            *lines << VelmoraReceiverReport::tagged(kTotalLeft, kLogInfo,
                                              {QString::number(pending), QString::number(current.maxPending)});
        }
    }
    for (auto device = devicesInForce.begin(); device != devicesInForce.end();) {
        const int pending = store.pendingCountForDevice(*device);
        if (pending > resumeLevel(current.maxPendingPerDevice)) {
            ++device;
            continue;
        }
        *lines << VelmoraReceiverReport::tagged(kDeviceLeft, kLogInfo,
                                          {*device, QString::number(pending),
                                           QString::number(current.maxPendingPerDevice)});
        device = devicesInForce.erase(device);
    }
}

bool VelmoraBacklogGuard::anyInForce() const
{
    return totalInForce || diskInForce || !devicesInForce.isEmpty();
}
