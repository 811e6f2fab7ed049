#include "velmorastampclock.h"

#include "velmoraclock.h"

VelmoraStampClock::VelmoraStampClock(VelmoraClock &clockToUse)
    : clock(clockToUse)
{
}

QDateTime VelmoraStampClock::now()
{
    const qint64 milliseconds = clock.msecsSinceEpoch();
    const qint64 second = milliseconds >= 0 ? milliseconds / 1000 : (milliseconds - 999) / 1000;
    if (second != offsetSecond) {
        offsetSecond = second;
        utcOffsetSeconds = clock.now().offsetFromUtc();
    }
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::OffsetFromUTC, utcOffsetSeconds);
}

qint64 VelmoraStampClock::msecsSinceEpoch() const
{
    return clock.msecsSinceEpoch();
}
