#ifndef VELMORADEVICEADMISSION_H
#define VELMORADEVICEADMISSION_H

#include <QString>

struct SVelmoraDeviceListRow;

// Whether a device that sent a valid frame may report, from what the frame
// showed (its device ID and the MAC its connection presented), the device
// list and what was learned of the device before.
//
// Only listed devices report when onlyListed is set. A MAC written in the
// device's row must be presented, in either mode; with onlyListed, a row
// without one pins the MAC learned at the device's first contact. Otherwise
// a changed MAC is learned anew.
class VelmoraDeviceAdmission
{
public:
    enum class Verdict {
        Admitted,
        // The device reports; the MAC it presented is to be kept.
        AdmittedMacLearned,
        // The device reports under a MAC other than the one learned before
        // (a replaced device); the new one is to be kept.
        AdmittedMacChanged,
        RefusedNotListed,
        RefusedMacDiffers,
    };

    struct Decision
    {
        Verdict verdict = Verdict::Admitted;
        // For RefusedMacDiffers and AdmittedMacChanged: the MAC that was
        // expected (or known) and the one presented, empty for none.
        QString expectedMac;
        QString presentedMac;
        bool refused() const
        {
            return verdict == Verdict::RefusedNotListed || verdict == Verdict::RefusedMacDiffers;
        }
    };

    // row: the device's row in the list, or null. learnedMac: the MAC kept
    // for the device, empty when none. presentedMac: the MAC its connection
    // presented, empty when it has not answered the MAC request yet.
    static Decision decide(bool onlyListed, const SVelmoraDeviceListRow *row, const QString &learnedMac,
                           const QString &presentedMac);
};

#endif // VELMORADEVICEADMISSION_H
