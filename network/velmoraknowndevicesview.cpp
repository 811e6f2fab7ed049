#include "velmoraknowndevicesview.h"

SVelmoraKnownDevice &VelmoraKnownDevicesView::deviceOf(const QString &deviceId)
{
    auto found = byId.find(deviceId);
    if (found == byId.end()) {
        found = byId.insert(deviceId, SVelmoraKnownDevice());
        found->deviceId = deviceId;
    }
    return *found;
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

QVector<SVelmoraKnownDevice> VelmoraKnownDevicesView::devices(const std::function<int(const QString &)> &periodSOf) const
{
    QVector<SVelmoraKnownDevice> devices;
    devices.reserve(byId.size());
    for (SVelmoraKnownDevice device : byId) {
        device.periodS = periodSOf(device.deviceId);
        devices << device;
    }
    return devices;
}
