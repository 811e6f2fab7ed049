#include "velmoraknowndevicesview.h"

#include <algorithm>

void VelmoraKnownDevicesView::reserve(int count)
{
    rows.reserve(count);
    rowOf.reserve(count);
}

SVelmoraKnownDevice &VelmoraKnownDevicesView::deviceOf(const QString &deviceId)
{
    const auto found = rowOf.constFind(deviceId);
    if (found != rowOf.cend())
        return rows[*found];
    rowOf.insert(deviceId, rows.size());
    rows.append(SVelmoraKnownDevice());
    rows.last().deviceId = deviceId;
    return rows.last();
}

void VelmoraKnownDevicesView::addKnown(const SVelmoraDeviceState &state)
{
    using State = SVelmoraKnownDevice::State;
    SVelmoraKnownDevice &device = deviceOf(state.deviceId);
    device.mac = state.mac;
    device.lastHeardAt = state.lastHeardAt;
    device.absentSince = state.absentSince;
    if (device.state == State::RefusedNotListed || device.state == State::RefusedMacDiffers)
        return;
    if (state.absenceReported)
        device.state = State::Absent;
    else if (state.lastHeardAt > 0)
        device.state = State::Heard;
}

void VelmoraKnownDevicesView::addListed(const SVelmoraDeviceListRow &row)
{
    SVelmoraKnownDevice &device = deviceOf(row.deviceId);
    device.listed = true;
    device.description = row.description;
    device.macPinned = !row.mac.isEmpty();
}

void VelmoraKnownDevicesView::addRefused(const QString &deviceId, const VelmoraDeviceAdmission::Decision &decision)
{
    using State = SVelmoraKnownDevice::State;
    SVelmoraKnownDevice &device = deviceOf(deviceId);
    device.state = decision.verdict == VelmoraDeviceAdmission::Verdict::RefusedNotListed ? State::RefusedNotListed
                                                                                          : State::RefusedMacDiffers;
    device.expectedMac = decision.expectedMac;
    device.presentedMac = decision.presentedMac;
}

QVector<SVelmoraKnownDevice> VelmoraKnownDevicesView::takeDevices(const std::function<int(const QString &)> &periodSOf)
{
    QVector<SVelmoraKnownDevice> devices = std::move(rows);
    rows.clear();
    rowOf.clear();
    for (SVelmoraKnownDevice &device : devices)
        device.periodS = periodSOf(device.deviceId);
    std::sort(devices.begin(), devices.end(),
              [](const SVelmoraKnownDevice &a, const SVelmoraKnownDevice &b) { return a.deviceId < b.deviceId; });
    return devices;
}
