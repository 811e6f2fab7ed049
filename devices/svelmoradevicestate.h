#ifndef SVELMORADEVICESTATE_H
#define SVELMORADEVICESTATE_H

#include <QString>
#include <QtGlobal>

// What Lumari learned of one known device, kept across restarts. Times are
// milliseconds since 1970 UTC, 0 for "not yet".
struct SVelmoraDeviceState
{
    // Six hex digits, upper case.
    QString deviceId;
    // Sixteen hex digits, upper case; empty until the device presents one.
    QString mac;
    qint64 lastHeardAt = 0;
    // Its absence was reported (E350) and its restore is still to be sent.
    bool absenceReported = false;
    qint64 absentSince = 0;

    bool operator==(const SVelmoraDeviceState &other) const
    {
        return deviceId == other.deviceId && mac == other.mac && lastHeardAt == other.lastHeardAt
            && absenceReported == other.absenceReported && absentSince == other.absentSince;
    }
};

#endif // SVELMORADEVICESTATE_H
