#ifndef VELMORADEVICEREPORT_H
#define VELMORADEVICEREPORT_H

#include "svelmoralogline.h"

#include <QString>

// The log lines of device supervision, admission and the device list. The
// window's copies are translated in the context VelmoraNetworkServer.
class VelmoraDeviceReport
{
public:
    static SVelmoraLogLine absent(const QString &deviceId, int periodS);
    static SVelmoraLogLine absenceNotJournaled(const QString &deviceId, const QString &reason);
    static SVelmoraLogLine restored(const QString &deviceId);
    static SVelmoraLogLine refusedNotListed(const QString &deviceId, const QString &peerAddress, quint16 peerPort);
    static SVelmoraLogLine refusedMacDiffers(const QString &deviceId, const QString &peerAddress, quint16 peerPort,
                                             const QString &expectedMac, const QString &presentedMac);
    static SVelmoraLogLine macChanged(const QString &deviceId, const QString &oldMac, const QString &newMac);
    static SVelmoraLogLine listRead(const QString &path, int devices);
    static SVelmoraLogLine listUnreadable(const QString &path, const QString &reason);
    static SVelmoraLogLine listRowSkipped(const QString &path, int lineNumber, const QString &reason);
    static SVelmoraLogLine stateNotSaved(const QString &reason);
    static SVelmoraLogLine supervisionForTesting(int periodS);
};

#endif // VELMORADEVICEREPORT_H
