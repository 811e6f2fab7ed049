#include "velmoradevicestatekeeper.h"

#include "velmoradevicestore.h"

#include <QVector>

#include <algorithm>

void VelmoraDeviceStateKeeper::change(const SVelmoraDeviceState &state, bool durable)
{
    if (!store)
        return;
    if (durable || durableChanges.contains(state.deviceId)) {
        durableChanges.insert(state.deviceId, state);
        heardChanges.remove(state.deviceId);
    } else {
        heardChanges.insert(state.deviceId, state);
    }
}

void VelmoraDeviceStateKeeper::forget(const QString &deviceId)
{
    durableChanges.remove(deviceId);
    heardChanges.remove(deviceId);
}

bool VelmoraDeviceStateKeeper::commit()
{
    if (durableChanges.isEmpty() || !store)
        return true;
    QVector<SVelmoraDeviceState> states;
    states.reserve(durableChanges.size());
    for (const SVelmoraDeviceState &state : qAsConst(durableChanges))
        states << state;
    if (!store->save(states, true))
        return false;
    durableChanges.clear();
    return true;
}

bool VelmoraDeviceStateKeeper::flushHeard(int limit)
{
    if (heardChanges.isEmpty() || !store)
        return true;
    QVector<SVelmoraDeviceState> states;
    states.reserve(std::min(limit, heardChanges.size()));
    for (auto state = heardChanges.cbegin(); state != heardChanges.cend() && states.size() < limit; ++state)
        states << *state;
    // The time a device was last heard is only shown: a power loss may
    // take a little of it, which is not worth a disk flush per frame.
    if (!store->save(states, false))
        return false;
    for (const SVelmoraDeviceState &state : qAsConst(states))
        heardChanges.remove(state.deviceId);
    return true;
}
