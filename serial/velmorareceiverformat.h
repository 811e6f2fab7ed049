#ifndef VELMORARECEIVERFORMAT_H
#define VELMORARECEIVERFORMAT_H

#include "svelmoramsg.h"

#include <QByteArray>
#include <QString>

// The Surgard receiver lines the monitoring software reads, and the rules for
// judging its answers. Pure functions over text and bytes.
class VelmoraReceiverFormat
{
public:
    static constexpr char kTerminator = 0x14;
    static constexpr char kAck = 0x06;
    static constexpr char kNak = 0x15;
    // Bytes read for the answer to an event line and to a keepalive line.
    static constexpr int kEventAnswerSize = 2;
    static constexpr int kKeepaliveAnswerSize = 3;
    static constexpr int kEventAttempts = 3;

    // The event line, terminator included; the receive time is appended
    // when appendTime is set.
    static QString eventLine(const QString &server, const QString &line, const SVelmoraMsg &msg,
                             bool appendTime);
    static QString keepaliveLine(const QString &server, const QString &line);
    // The line for a person to read: control bytes (its 0x14 terminator)
    // written as <14>.
    static QString printableLine(const QString &line);

    // The configured texts as they go into every line: server at least two
    // characters ("01" when empty), line "1" when empty.
    static QString serverText(const QString &configured);
    static QString lineText(const QString &configured);
    // "0" put in front until text is width characters long.
    static QString zeroPad(const QString &text, int width);

    // Acknowledged when the first byte read is 0x06, whatever follows.
    static bool isAcknowledged(const QByteArray &answer);
    static bool isRefusal(const QByteArray &answer);

    enum class AttemptOutcome {
        Acknowledged,
        TryAgain,
        GiveUp,
    };
    // What follows the answer to write number attempt (1 to 3) of an event
    // line. A read that fails outright on the second write ends the exchange;
    // one that fails on the first does not.
    static AttemptOutcome judgeEventAttempt(int attempt, bool readSucceeded,
                                            const QByteArray &answer);
};

#endif // VELMORARECEIVERFORMAT_H
