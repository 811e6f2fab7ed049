#ifndef VELMORASTAMPCLOCK_H
#define VELMORASTAMPCLOCK_H

#include <QDateTime>

class VelmoraClock;

// Local-time stamps for what the devices send, from the clock the server is
// handed. The clock's local time looks at the system's time zone file on
// every call, which costs more than decoding a frame; the offset from UTC
// changes only on a whole second, so it is asked once a second, and the
// stamp carries it, so that turning the stamp into text looks at nothing
// again.
class VelmoraStampClock
{
public:
    explicit VelmoraStampClock(VelmoraClock &clock);

    QDateTime now();
    qint64 msecsSinceEpoch() const;

private:
    VelmoraClock &clock;
    // The offset from UTC and the second it was asked for.
    qint64 offsetSecond = -1;
    int utcOffsetSeconds = 0;
};

#endif // VELMORASTAMPCLOCK_H
