#include "velmoradeviceactivity.h"

void VelmoraDeviceActivity::noteOutcomes(const QVector<SVelmoraFrameOutcome> &outcomes, qint64 at)
{
    for (const SVelmoraFrameOutcome &outcome : outcomes) {
        if (!outcome.handled())
            continue;
        ++framesReceived;
        lastFrameAt = at;
        if (outcome.hasEvent && isPeriodicTest(outcome.event))
            lastTestAt = at;
    }
}

bool VelmoraDeviceActivity::isPeriodicTest(const SVelmoraMsg &event)
{
    return event.isPeriodicTest();
}
