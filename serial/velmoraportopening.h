#ifndef VELMORAPORTOPENING_H
#define VELMORAPORTOPENING_H

#include "receiverline.h"
#include "svelmoracomsettings.h"
#include "velmoracomreport.h"

#include <array>

// Opening the port is four calls in a row, each logged when it succeeds and,
// when it fails, logged and the end of the attempt.
struct VelmoraPortOpenStep
{
    bool (*call)(ReceiverLine &port, const SVelmoraComSettings &settings);
    VelmoraComPortLine success;
    VelmoraComPortLine failure;
};

namespace VelmoraPortOpening {

const std::array<VelmoraPortOpenStep, 4> &steps();

// After the last step.
extern const VelmoraComPortLine readyLine;
// Closing an open port, and a close request for a port that was not open.
extern const VelmoraComPortLine closedLine;
extern const VelmoraComPortLine notOpenLine;

// Said once at a start request when the line has no line parameters and the
// configured ones are not the defaults: they are ignored.
bool settingsIgnored(const ReceiverLine &line, const SVelmoraComSettings &settings);
VelmoraComReport ignoredSettingsReport(const QString &portName);

// The answer read's time-outs as the timing gives them.
SerialReadTimeouts readTimeouts(const SVelmoraComTiming &timing);

} // namespace VelmoraPortOpening

#endif // VELMORAPORTOPENING_H
