#ifndef VELMORADEVICESTATETEXT_H
#define VELMORADEVICESTATETEXT_H

#include "svelmoradevicesnapshot.h"

#include <QCoreApplication>
#include <QString>

// The words for a known device's state, the same in the Devices window and
// on the status page: connected / heard N s ago / absent since hh:mm /
// refused: not listed / refused: MAC differs. The page gets each pattern
// once and fills in the number or the time itself.
class VelmoraDeviceStateText
{
    Q_DECLARE_TR_FUNCTIONS(VelmoraDeviceStateText)

public:
    enum class Shown { Connected, HeardAgo, NotHeard, AbsentSince, RefusedNotListed, RefusedMacDiffers };
    static constexpr int kShownCount = 6;

    static Shown shownOf(const SVelmoraKnownDevice &device, bool connected);
    // Translated; %1 stands for the seconds or the time of day.
    static QString pattern(Shown shown);
    // The name the page knows it by.
    static const char *name(Shown shown);
    static QString text(const SVelmoraKnownDevice &device, bool connected, qint64 now);
    // The period column of a device that is not supervised.
    static QString notSupervised();
};

#endif // VELMORADEVICESTATETEXT_H
