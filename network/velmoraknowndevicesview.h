#ifndef VELMORAKNOWNDEVICESVIEW_H
#define VELMORAKNOWNDEVICESVIEW_H

#include "svelmoradevicelistrow.h"
#include "svelmoradevicesnapshot.h"
#include "svelmoradevicestate.h"
#include "velmoradeviceadmission.h"

#include <QMap>
#include <QString>
#include <QVector>

#include <functional>

// The known devices as the Devices window and the status page show them:
// every device that is known, listed or refused lately, one row each, by
// device ID. Made from the supervisor's records at one moment.
class VelmoraKnownDevicesView
{
public:
    void addKnown(const SVelmoraDeviceState &state);
    void addListed(const SVelmoraDeviceListRow &row);
    // A refusal outweighs what else is known of the device.
    void addRefused(const QString &deviceId, const VelmoraDeviceAdmission::Decision &decision);

    // periodSOf: the device's supervision period in seconds, 0 when it is
    // not supervised.
    QVector<SVelmoraKnownDevice> devices(const std::function<int(const QString &)> &periodSOf) const;

private:
    SVelmoraKnownDevice &deviceOf(const QString &deviceId);

    QMap<QString, SVelmoraKnownDevice> byId;
};

#endif // VELMORAKNOWNDEVICESVIEW_H
