#include "velmorametrics.h"

#include <QDateTime>

#include <chrono>

namespace {

const char *const kRefusalNames[] = {"malformed", "bad_tail", "unknown_type", "backlog_limit", "not_journaled"};
const char *const kLineStateNames[] = {"port_closed", "port_open", "answering", "not_answering", "line_fault"};

QByteArray seconds(std::int64_t microseconds)
{
    return QByteArray::number(double(microseconds) / 1e6, 'g', 12);
}

class Writer
{
public:
    void family(const char *name, const char *type, const char *help)
    {
        text += "# HELP ";
        text += name;
        text += ' ';
        text += help;
        text += "\n# TYPE ";
        text += name;
        text += ' ';
        text += type;
        text += '\n';
    }
    void sample(const char *name, const QByteArray &value, const QByteArray &labels = QByteArray())
    {
        text += name;
        if (!labels.isEmpty()) {
            text += '{';
            text += labels;
            text += '}';
        }
        text += ' ';
        text += value;
        text += '\n';
    }
    void counter(const char *name, const char *help, std::uint64_t value)
    {
        family(name, "counter", help);
        sample(name, QByteArray::number(quint64(value)));
    }
    void gauge(const char *name, const char *help, std::int64_t value)
    {
        family(name, "gauge", help);
        sample(name, QByteArray::number(qint64(value)));
    }
    void histogram(const char *name, const char *help, const VelmoraHistogram &histogram)
    {
        family(name, "histogram", help);
        const QByteArray base(name);
        // Read once each: buckets, count and sum stay consistent with one
        // another even while values come in, because +Inf is the count read
        // after the buckets and is never below their sum.
        std::uint64_t cumulative = 0;
        for (int bucket = 0; bucket < histogram.bucketCount(); ++bucket) {
            cumulative += histogram.bucketValue(bucket);
            sample((base + "_bucket").constData(), QByteArray::number(quint64(cumulative)),
                   "le=\"" + seconds(histogram.upperBoundUs(bucket)) + '"');
        }
        const std::uint64_t count = qMax(cumulative, histogram.count());
        sample((base + "_bucket").constData(), QByteArray::number(quint64(count)), "le=\"+Inf\"");
        sample((base + "_sum").constData(), seconds(histogram.sumUs()));
        sample((base + "_count").constData(), QByteArray::number(quint64(count)));
    }

    QByteArray text;
};

} // namespace

VelmoraMetrics &VelmoraMetrics::instance()
{
    static VelmoraMetrics *const metrics = new VelmoraMetrics;
    return *metrics;
}

std::int64_t VelmoraMetrics::monotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

const char *VelmoraMetrics::lineStateName(LineState state)
{
    const int index = int(state);
    return index >= 0 && index < int(LineState::Count) ? kLineStateNames[index] : "port_closed";
}

void VelmoraMetrics::refuseFrame(FrameRefusal reason, std::uint64_t frames)
{
    if (reason >= FrameRefusal::Malformed && reason < FrameRefusal::Count && frames > 0)
        refused[int(reason)].add(frames);
}

std::uint64_t VelmoraMetrics::framesRefused(FrameRefusal reason) const
{
    return reason >= FrameRefusal::Malformed && reason < FrameRefusal::Count ? refused[int(reason)].value() : 0;
}

void VelmoraMetrics::setLineState(LineState state)
{
    currentLineState.set(int(state));
}

VelmoraMetrics::LineState VelmoraMetrics::lineState() const
{
    return LineState(currentLineState.value());
}

void VelmoraMetrics::lineAnswered()
{
    lastAnsweredMonotonic.set(monotonicUs());
    lastAnsweredWallMs.set(QDateTime::currentMSecsSinceEpoch());
}

QByteArray VelmoraMetrics::renderText() const
{
    Writer out;
    out.text.reserve(6000);
    out.gauge("lumari_receiver_listening", "1 while the receiver listens for devices.", receiverListening.value());
    out.gauge("lumari_devices_connected", "Device connections open now.", devicesConnected.value());
    out.gauge("lumari_devices_absent", "Known devices reported absent (not heard for their supervision period).",
              devicesAbsent.value());
    out.gauge("lumari_devices_refused", "Devices refused lately: not listed, or a MAC that differs.",
              devicesRefused.value());
    out.counter("lumari_frames_received_total", "Frames from devices that were handled.", framesReceived.value());
    out.family("lumari_frames_refused_total", "counter", "Frames or bytes from devices that were not handled, by reason.");
    for (int reason = 0; reason < int(FrameRefusal::Count); ++reason) {
        out.sample("lumari_frames_refused_total", QByteArray::number(quint64(refused[reason].value())),
                   QByteArray("reason=\"") + kRefusalNames[reason] + '"');
    }
    out.counter("lumari_events_received_total", "Events received from devices.", eventsReceived.value());
    out.counter("lumari_events_journaled_total", "Events written durably to the journal.", eventsJournaled.value());
    out.counter("lumari_events_delivered_total", "Events acknowledged by the monitoring software.",
                eventsDelivered.value());
    out.gauge("lumari_events_held", "Events waiting for the monitoring software.", eventsHeld.value());
    out.gauge("lumari_events_set_aside", "Events refused by the monitoring software and set aside for the operator.",
              eventsSetAside.value());
    out.counter("lumari_events_set_aside_total", "Events set aside since the program started.",
                eventsSetAsideTotal.value());
    out.counter("lumari_backlog_limit_hits_total", "Events refused because a backlog limit was reached.",
                backlogLimitHits.value());
    out.gauge("lumari_journal_size_bytes", "Size of the event journal file.", journalBytes.value());
    out.gauge("lumari_journal_writable", "1 while the event journal is open and its last write succeeded.",
              journalWritable.value());
    out.gauge("lumari_standby", "1 while another instance holds the shared journal's lease.", standby.value());
    out.counter("lumari_takeovers_total", "Times this instance took the shared journal's lease.", takeovers.value());
    out.counter("lumari_events_possibly_twice_total",
                "Events found at a takeover whose line the previous active had sent already.",
                eventsPossiblyTwice.value());
    out.family("lumari_line_state", "gauge", "State of the line to the monitoring software: 1 for the current state.");
    const int state = currentLineState.value();
    for (int index = 0; index < int(LineState::Count); ++index) {
        out.sample("lumari_line_state", index == state ? "1" : "0",
                   QByteArray("state=\"") + kLineStateNames[index] + '"');
    }
    out.family("lumari_line_last_acknowledged_timestamp_seconds", "gauge",
               "Time of the last line the monitoring software acknowledged (0: none yet).");
    out.sample("lumari_line_last_acknowledged_timestamp_seconds",
               QByteArray::number(double(lastAnsweredWallMs.value()) / 1e3, 'f', 3));
    out.gauge("lumari_keepalive_period_seconds", "Keepalive period of the line (0: no keepalives).",
              keepalivePeriodMs.value() / 1000);
    out.counter("lumari_keepalives_sent_total", "Keepalive lines written.", keepalivesSent.value());
    out.counter("lumari_keepalives_acknowledged_total", "Keepalive lines acknowledged.",
                keepalivesAcknowledged.value());
    out.histogram("lumari_device_ack_latency_seconds", "Time from reading a device's frame to writing its ACK.",
                  deviceAckLatency);
    out.histogram("lumari_delivery_latency_seconds",
                  "Time from an event's arrival to its acknowledgement by the monitoring software.",
                  deliveryLatency);
    return out.text;
}
