#include "velmoradeviceactivity.h"

namespace {

// The event field is the qualifier digit followed by the three-digit code.
constexpr int kEventFieldLength = 4;
const QString kPeriodicTestCode = QStringLiteral("602");

} // namespace

void VelmoraDeviceActivity::noteOutcomes(const QVector<SVelmoraFrameOutcome> &outcomes, qint64 at)
{
    for (const SVelmoraFrameOutcome &outcome : outcomes) {
        if (outcome.result != 1)
            continue;
        ++framesReceived;
        lastFrameAt = at;
        if (outcome.hasEvent && isPeriodicTest(outcome.event))
            lastTestAt = at;
    }
}

bool VelmoraDeviceActivity::isPeriodicTest(const SVelmoraMsg &event)
{
    return event.event.size() == kEventFieldLength && event.event.endsWith(kPeriodicTestCode);
}
