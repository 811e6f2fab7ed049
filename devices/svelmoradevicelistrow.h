#ifndef SVELMORADEVICELISTROW_H
#define SVELMORADEVICELISTROW_H

#include <QString>

// One device of the operator's device list, as its row says.
struct SVelmoraDeviceListRow
{
    // supervisionS when the row leaves it empty: the configured period.
    static constexpr int kDefaultPeriod = -1;

    // Six hex digits, upper case.
    QString deviceId;
    QString description;
    // Seconds; 0: not supervised; kDefaultPeriod: the configured period.
    int supervisionS = kDefaultPeriod;
    // Sixteen hex digits, upper case, that the device must present; empty:
    // learned at its first contact.
    QString mac;
    // Where the row starts in the file, from 1.
    int lineNumber = 0;
};

#endif // SVELMORADEVICELISTROW_H
