#include "velmorastampclock.h"

#include "velmoraclock.h"

VelmoraStampClock::VelmoraStampClock(VelmoraClock &clockToUse)
    : clock(clockToUse)
{
}

QDateTime VelmoraStampClock::now()
{
    const qint64 monotonic = clock.monotonicMs();
    if (monotonic != stampedAtMs || !stamp.isValid()) {
        const QDateTime local = clock.now();
        stamp = local.toOffsetFromUtc(local.offsetFromUtc());
        stampedAtMs = monotonic;
    }
    return stamp;
}
