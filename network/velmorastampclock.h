#ifndef VELMORASTAMPCLOCK_H
#define VELMORASTAMPCLOCK_H

#include <QDateTime>

class VelmoraClock;

// Local-time stamps for what the devices send, from the clock the server is
// handed. The clock's local time looks at the system's time zone, which
// costs more than decoding a frame; so it is read once per millisecond of
// the clock's monotonic time at most, and the stamp carries its offset from
// UTC, so that turning it into text looks at nothing again.
class VelmoraStampClock
{
public:
    explicit VelmoraStampClock(VelmoraClock &clock);

    QDateTime now();
    qint64 msecsSinceEpoch() { return now().toMSecsSinceEpoch(); }

private:
    VelmoraClock &clock;
    qint64 stampedAtMs = -1;
    QDateTime stamp;
};

#endif // VELMORASTAMPCLOCK_H
