#include "velmoradeviceadmission.h"

#include "svelmoradevicelistrow.h"

VelmoraDeviceAdmission::Decision VelmoraDeviceAdmission::decide(bool onlyListed, const SVelmoraDeviceListRow *row,
                                                                const QString &learnedMac,
                                                                const QString &presentedMac)
{
    Decision decision;
    decision.presentedMac = presentedMac;
    if (onlyListed && !row) {
        decision.verdict = Verdict::RefusedNotListed;
        return decision;
    }
    const QString pinned = row && !row->mac.isEmpty() ? row->mac : onlyListed ? learnedMac : QString();
    if (!pinned.isEmpty()) {
        // A connection that has not presented its MAC has not shown it is
        // the device it says it is.
        if (presentedMac != pinned) {
            decision.verdict = Verdict::RefusedMacDiffers;
            decision.expectedMac = pinned;
            return decision;
        }
        decision.verdict = learnedMac == presentedMac ? Verdict::Admitted : Verdict::AdmittedMacLearned;
        return decision;
    }
    if (presentedMac.isEmpty() || presentedMac == learnedMac) {
        decision.verdict = Verdict::Admitted;
    } else if (learnedMac.isEmpty()) {
        decision.verdict = Verdict::AdmittedMacLearned;
    } else {
        decision.verdict = Verdict::AdmittedMacChanged;
        decision.expectedMac = learnedMac;
    }
    return decision;
}
