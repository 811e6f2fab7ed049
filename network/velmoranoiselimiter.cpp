#include "velmoranoiselimiter.h"

VelmoraNoiseLimiter::Decision VelmoraNoiseLimiter::take(bool noise, int bytes, qint64 nowMs)
{
    if (!noise) {
        inBurst = false;
        return takeLeftOut();
    }
    if (!inBurst || nowMs - lastNoiseMs >= kIntervalMs) {
        inBurst = true;
        lastNoiseMs = nowMs;
        reportedMs = nowMs;
        return takeLeftOut();
    }
    lastNoiseMs = nowMs;
    ++readsLeftOut;
    bytesLeftOut += bytes;
    Decision decision;
    if (nowMs - reportedMs >= kIntervalMs) {
        decision = takeLeftOut();
        reportedMs = nowMs;
    }
    decision.logRead = false;
    return decision;
}

VelmoraNoiseLimiter::Decision VelmoraNoiseLimiter::takeLeftOut()
{
    Decision decision;
    decision.readsLeftOut = readsLeftOut;
    decision.bytesLeftOut = bytesLeftOut;
    readsLeftOut = 0;
    bytesLeftOut = 0;
    return decision;
}
