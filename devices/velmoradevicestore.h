#ifndef VELMORADEVICESTORE_H
#define VELMORADEVICESTORE_H

#include "svelmoradevicestate.h"

#include <QString>
#include <QVector>

// Keeping of the known devices' state across restarts. The network
// receiver is its only user, from its own thread.
class VelmoraDeviceStore
{
public:
    virtual ~VelmoraDeviceStore() = default;

    // Reads what was kept; false (with errorString()) when it cannot be
    // used; the store then keeps nothing until a later call succeeds.
    virtual bool open() = 0;
    // Every device kept, in no particular order.
    virtual QVector<SVelmoraDeviceState> devices() const = 0;
    // Keeps the states of these devices in place of what was kept of them.
    // durable: returns once they survive a power loss; otherwise once they
    // survive the end of the process.
    virtual bool save(const QVector<SVelmoraDeviceState> &states, bool durable) = 0;
    // The device is no longer known.
    virtual bool forget(const QString &deviceId) = 0;
    virtual QString errorString() const = 0;
};

#endif // VELMORADEVICESTORE_H
