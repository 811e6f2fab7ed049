#ifndef VELMORALEASE_H
#define VELMORALEASE_H

#include <QtGlobal>

// The decisions about the journal's lease, apart from the database that
// keeps it: when to ask for it, when to renew it, how long a grant may be
// trusted and when to give it up. Pure: every call is handed the time on a
// clock that never goes back, so a test moves the time instead of waiting.
//
// A grant is trusted for the lease's duration counted from the moment the
// request that won it was sent, less a margin, never from the answer: the
// database counts its expiry from its commit, which is later, so this
// instance stops believing in the lease before any other can take it.
class VelmoraLease
{
public:
    struct Timing
    {
        // An active instance renews this often.
        qint64 renewMs = 3000;
        // A lease not renewed for this long may be taken by another.
        qint64 durationMs = 10000;
        // A standby asks this often whether the lease is free.
        qint64 standbyTryMs = 1000;
        // Taken off the trusted time, for clocks that do not run quite alike.
        qint64 marginMs = 500;
    };

    enum class Step {
        Wait,
        // Standby: ask for the lease if it is free or has expired.
        Acquire,
        // Active: renew before the next renewal falls due.
        Renew,
        // Active, but the lease can no longer be trusted: stop at once.
        Fence,
    };

    VelmoraLease();
    explicit VelmoraLease(const Timing &timing);

    Step due(qint64 nowMs) const;
    // The request for the step due is about to be sent.
    void requestSent(qint64 nowMs);
    // The database granted the lease, numbered epoch, in answer to the
    // request sent last; the answer came at nowMs. True when this instance
    // was standby until now and is active from here on. An answer that
    // comes after the grant it carries has run out counts as lost.
    bool granted(qint64 epoch, qint64 nowMs);
    // The request was refused, failed or came back too late. True when this
    // instance was active until now: it is standby from here on.
    bool lost(qint64 nowMs);

    bool isActive() const { return active; }
    // Active, and the grant still trusted at nowMs.
    bool holds(qint64 nowMs) const { return active && nowMs < trustedUntil; }
    qint64 epoch() const { return currentEpoch; }
    // The last moment the grant is trusted; the answer to a renewal is no
    // use after it.
    qint64 trustedUntilMs() const { return trustedUntil; }
    // How long the request due now may take: an active one no longer than
    // its grant is trusted, a standby one no longer than a try.
    qint64 requestDeadline(qint64 nowMs) const;
    const Timing &timing() const { return leaseTiming; }

private:
    Timing leaseTiming;
    bool active = false;
    qint64 currentEpoch = 0;
    qint64 lastSent = 0;
    bool everSent = false;
    qint64 trustedUntil = 0;
    // A fenced instance leaves the first try to the others: it asks again
    // only once the lease it lost has expired and they have had two tries.
    qint64 notBefore = 0;
};

#endif // VELMORALEASE_H
