#include "velmoralease.h"

VelmoraLease::VelmoraLease() = default;

VelmoraLease::VelmoraLease(const Timing &timing) : leaseTiming(timing)
{
}

VelmoraLease::Step VelmoraLease::due(qint64 nowMs) const
{
    if (active) {
        if (nowMs >= trustedUntil)
            return Step::Fence;
        return nowMs - lastSent >= leaseTiming.renewMs ? Step::Renew : Step::Wait;
    }
    if (nowMs < notBefore)
        return Step::Wait;
    return !everSent || nowMs - lastSent >= leaseTiming.standbyTryMs ? Step::Acquire : Step::Wait;
}

void VelmoraLease::requestSent(qint64 nowMs)
{
    lastSent = nowMs;
    everSent = true;
}

bool VelmoraLease::granted(qint64 epoch, qint64 nowMs)
{
    const qint64 until = lastSent + leaseTiming.durationMs - leaseTiming.marginMs;
    // A renewal answered by a different epoch was not this grant's renewal.
    if (nowMs >= until || (active && epoch != currentEpoch)) {
        lost(nowMs);
        return false;
    }
    const bool wasStandby = !active;
    active = true;
    currentEpoch = epoch;
    trustedUntil = until;
    return wasStandby;
}

bool VelmoraLease::lost(qint64 nowMs)
{
    if (!active)
        return false;
    active = false;
    // The lease in the database expires at most durationMs after the last
    // request that renewed it, which was sent before now.
    notBefore = nowMs + leaseTiming.durationMs + 2 * leaseTiming.standbyTryMs;
    trustedUntil = 0;
    return true;
}

qint64 VelmoraLease::requestDeadline(qint64 nowMs) const
{
    if (active)
        return trustedUntil;
    return nowMs + leaseTiming.standbyTryMs * 3;
}
