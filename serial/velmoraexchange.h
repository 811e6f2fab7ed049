#ifndef VELMORAEXCHANGE_H
#define VELMORAEXCHANGE_H

#include "svelmoracomtiming.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <utility>

class ReceiverLine;

// Writing a line to the monitoring software and reading its answer: up to
// three writes for an event line, one for a keepalive. Blocks its thread for
// the whole exchange; the caller keeps exchanges from overlapping.
class VelmoraExchange
{
public:
    enum class Result {
        Acknowledged,
        NotAcknowledged,
        Refused,
        // The port failed in a way that means the device is gone; the
        // event was not answered and is still to be sent.
        LineGone,
    };
    // Told after each write whether the answer was a refusal (0x15); true
    // ends the exchange with Refused.
    using RefusalCounter = std::function<bool(bool refusal)>;

    explicit VelmoraExchange(ReceiverLine &line) : port(&line) {}

    // The line the next exchanges use; the worker chooses it by the port's
    // name before each open.
    void setLine(ReceiverLine &line) { port = &line; }

    void setTiming(const SVelmoraComTiming &value) { timing = value; }
    // Asked before every write: a line goes out only while it answers true.
    // Unset: always.
    using WriteGate = std::function<bool()>;
    void setWriteGate(WriteGate gate) { writeGate = std::move(gate); }

    Result sendEvent(const QString &lineText, const RefusalCounter &countRefusal);
    bool sendKeepalive(const QString &lineText);
    // The last exchange ended because the device is gone.
    bool lineGone() const { return gone; }

    // How long after a write its answer's first byte may still come.
    static unsigned answerDeadlineMs(const SVelmoraComTiming &timing, int answerSize);

private:
    // Writes the line after throwing away whatever arrived before it.
    bool writeLine(const QString &lineText);
    // Judged by its first byte: waits for that up to the deadline, then
    // takes only what is already there. Later bytes are thrown away before
    // the next line.
    bool readAnswer(int size, QByteArray &answer);

    ReceiverLine *port;
    WriteGate writeGate;
    SVelmoraComTiming timing;
    bool gone = false;
};

#endif // VELMORAEXCHANGE_H
