#ifndef VELMORAMETRICS_H
#define VELMORAMETRICS_H

#include "velmoracounter.h"
#include "velmoragauge.h"
#include "velmorahistogram.h"

#include <QByteArray>

#include <cstdint>

// The program's metrics, one registry for the process: the receiver, the
// serial line and the journal count here where things happen, and the status
// endpoint renders them in the Prometheus text format from its own thread.
// Every member is atomic; nothing here takes a lock or waits. The members are
// public because they are the registry's whole interface, as the fields of a
// record are.
class VelmoraMetrics
{
public:
    enum class FrameRefusal { Malformed, BadTail, UnknownType, BacklogLimit, NotJournaled, Count };
    enum class LineState { PortClosed, PortOpen, Answering, NotAnswering, LineFault, Count };

    // Process-lifetime: made on first use and never destroyed, so a worker
    // thread still counting while the process ends meets no freed object.
    static VelmoraMetrics &instance();
    // Microseconds of a steady clock, for latencies.
    static std::int64_t monotonicUs();
    static const char *lineStateName(LineState state);

    VelmoraGauge receiverListening;
    VelmoraGauge devicesConnected;
    // With supervision: known devices whose absence is reported, and devices
    // refused lately.
    VelmoraGauge devicesAbsent;
    VelmoraGauge devicesRefused;
    VelmoraCounter framesReceived;
    void refuseFrame(FrameRefusal reason, std::uint64_t frames = 1);
    std::uint64_t framesRefused(FrameRefusal reason) const;
    VelmoraCounter eventsReceived;
    VelmoraCounter eventsJournaled;
    VelmoraCounter eventsDelivered;
    VelmoraCounter eventsSetAsideTotal;
    VelmoraGauge eventsHeld;
    VelmoraGauge eventsSetAside;
    VelmoraCounter backlogLimitHits;
    VelmoraGauge journalBytes;
    VelmoraGauge journalWritable;
    // With the journal in PostgreSQL: 1 while another instance holds the
    // lease; the lease taken, and the events then found already sent once.
    VelmoraGauge standby;
    VelmoraCounter takeovers;
    VelmoraCounter eventsPossiblyTwice;

    void setLineState(LineState state);
    LineState lineState() const;
    // An event line or a keepalive was acknowledged just now.
    void lineAnswered();
    // 0 when the line has not answered since the program started.
    std::int64_t lastAnsweredMonotonicUs() const { return lastAnsweredMonotonic.value(); }
    VelmoraGauge keepalivePeriodMs;
    VelmoraCounter keepalivesSent;
    VelmoraCounter keepalivesAcknowledged;

    // From the frame's read to its ACK being written to the device.
    VelmoraHistogram deviceAckLatency{100, 500, 1000, 2500, 5000, 10000, 25000, 50000, 100000, 250000,
                                      500000, 1000000};
    // From the event's arrival to its acknowledgement by the monitoring software.
    VelmoraHistogram deliveryLatency{1000, 5000, 10000, 50000, 100000, 500000, 1000000, 5000000,
                                     30000000, 60000000, 300000000, 3600000000};

    // The text exposition format 0.0.4: HELP and TYPE before every family.
    QByteArray renderText() const;

private:
    VelmoraMetrics() = default;

    VelmoraCounter refused[int(FrameRefusal::Count)];
    VelmoraGauge currentLineState;
    VelmoraGauge lastAnsweredMonotonic;
    VelmoraGauge lastAnsweredWallMs;
};

#endif // VELMORAMETRICS_H
