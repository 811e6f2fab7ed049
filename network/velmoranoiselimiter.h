#ifndef VELMORANOISELIMITER_H
#define VELMORANOISELIMITER_H

#include <QtGlobal>

// Decides, per connection, which reads that bring no frame are logged: a
// client sending bytes that are no frame gets the usual lines for the first
// read of a burst; the rest of the burst is counted instead, and the count
// of reads and bytes left out is reported at most once a second, when a
// frame comes, and when the connection ends. A burst ends with a read that
// brings a frame, or after a second without noise.
class VelmoraNoiseLimiter
{
public:
    struct Decision
    {
        bool logRead = true;
        // Left out and not reported yet; a line says so when non-zero.
        int readsLeftOut = 0;
        qint64 bytesLeftOut = 0;
    };

    // A read of bytes at nowMs (any monotonic clock); noise when it brought
    // no frame that was handled.
    Decision take(bool noise, int bytes, qint64 nowMs);
    // What was left out and not reported yet, e.g. when the connection ends.
    Decision takeLeftOut();
    // Reads that complete nothing belong to a burst that is going on.
    bool burstGoingOn() const { return inBurst; }

    static constexpr qint64 kIntervalMs = 1000;

private:
    bool inBurst = false;
    qint64 lastNoiseMs = 0;
    qint64 reportedMs = 0;
    int readsLeftOut = 0;
    qint64 bytesLeftOut = 0;
};

#endif // VELMORANOISELIMITER_H
