#ifndef SVELMORAFRAMEOUTCOME_H
#define SVELMORAFRAMEOUTCOME_H

#include "svelmoralogline.h"
#include "svelmoramsg.h"

#include <QByteArray>
#include <QVector>

// What handling one received frame (or one run of unusable bytes) asks the
// server to do, in this order: report the lines, write the reply, emit the
// event.
struct SVelmoraFrameOutcome
{
    // 1 when the frame was handled, -1 when it was dropped.
    int result = -1;
    QVector<SVelmoraLogLine> logLines;
    QByteArray reply; // empty: nothing is sent
    bool hasEvent = false;
    SVelmoraMsg event;
};

#endif // SVELMORAFRAMEOUTCOME_H
