#ifndef VELMORADEVICESTATEKEEPER_H
#define VELMORADEVICESTATEKEEPER_H

#include "svelmoradevicestate.h"

#include <QHash>
#include <QString>

class VelmoraDeviceStore;

// The device state changes not yet in the store. Those that must survive a
// crash before the devices get their ACKs (a new device, a MAC, an absence
// or its restore) go in one durable write per network pass; the times
// heard, which are only shown, go a limited number at a time without a disk
// flush. The latest change of a device replaces the one waiting, and one
// that must be durable stays so.
class VelmoraDeviceStateKeeper
{
public:
    // Null: nothing is kept.
    void setStore(VelmoraDeviceStore *deviceStore) { store = deviceStore; }

    void change(const SVelmoraDeviceState &state, bool durable);
    // The device's waiting changes are dropped.
    void forget(const QString &deviceId);
    // Writes the durable changes in one durable write; false when the store
    // failed (they wait for the next call).
    bool commit();
    // Hands at most limit times heard to the store; false when it failed.
    bool flushHeard(int limit);

private:
    VelmoraDeviceStore *store = nullptr;
    QHash<QString, SVelmoraDeviceState> durableChanges;
    QHash<QString, SVelmoraDeviceState> heardChanges;
};

#endif // VELMORADEVICESTATEKEEPER_H
