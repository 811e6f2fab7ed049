#ifndef VELMORAKNOWNDEVICESVIEW_H
#define VELMORAKNOWNDEVICESVIEW_H

#include "svelmoradevicelistrow.h"
#include "svelmoradevicesnapshot.h"
#include "svelmoradevicestate.h"
#include "velmoradeviceadmission.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

// The known devices as the Devices window and the status page show them:
// every device that is known, listed or refused lately, one row each, by
// device ID. Made from the supervisor's records at one moment.
class VelmoraKnownDevicesView
{
public:
    // Room for about this many devices.
    void reserve(int count);
    void addKnown(const SVelmoraDeviceState &state);
    void addListed(const SVelmoraDeviceListRow &row);
    // A refusal outweighs what else is known of the device.
    void addRefused(const QString &deviceId, const VelmoraDeviceAdmission::Decision &decision);

    // The rows by device ID, handed over once. periodSOf: the device's
    // supervision period in seconds, 0 when it is not supervised.
    QVector<SVelmoraKnownDevice> takeDevices(const std::function<int(const QString &)> &periodSOf);

private:
    SVelmoraKnownDevice &deviceOf(const QString &deviceId);

    // Gathered in a hash and sorted once at the end: the network thread
    // makes this view for every copy the windows and the status page ask
    // for, and a sorted map of ten thousand devices cost it twice the time.
    QVector<SVelmoraKnownDevice> rows;
    QHash<QString, int> rowOf;
};

#endif // VELMORAKNOWNDEVICESVIEW_H
