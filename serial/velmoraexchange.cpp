#include "velmoraexchange.h"

#include "receiverline.h"
#include "velmoralog.h"
#include "velmorareceiverformat.h"

#include <limits>


VelmoraExchange::Result VelmoraExchange::sendEvent(const QString &lineText,
                                                   const RefusalCounter &countRefusal)
{
    using Outcome = VelmoraReceiverFormat::AttemptOutcome;
    gone = false;
    for (int attempt = 1;; ++attempt) {
        // Not even a repeat goes out once the gate closed.
        if (writeGate && !writeGate())
            return Result::NotAcknowledged;
        // A failed write shows up as a missing answer, unless the device
        // itself is gone: then no answer can come.
        writeLine(lineText);
        if (gone)
            return Result::LineGone;
        QByteArray answer;
        const bool readSucceeded = readAnswer(VelmoraReceiverFormat::kEventAnswerSize, answer);
        if (gone)
            return Result::LineGone;

        const bool refusedForGood = countRefusal(VelmoraReceiverFormat::isRefusal(answer));
        const Outcome outcome =
            VelmoraReceiverFormat::judgeEventAttempt(attempt, readSucceeded, answer);
        if (outcome == Outcome::Acknowledged)
            return Result::Acknowledged;
        if (refusedForGood)
            return Result::Refused;
        if (outcome == Outcome::GiveUp)
            return Result::NotAcknowledged;
        // The day log marks each further attempt with an empty entry.
        VelmoraCommon_LogError(QString());
    }
}

bool VelmoraExchange::sendKeepalive(const QString &lineText)
{
    gone = false;
    if (writeGate && !writeGate())
        return false;
    if (!writeLine(lineText))
        return false;
    QByteArray answer;
    // Only the bytes count here, not whether the read reported success.
    readAnswer(VelmoraReceiverFormat::kKeepaliveAnswerSize, answer);
    return VelmoraReceiverFormat::isAcknowledged(answer);
}

bool VelmoraExchange::writeLine(const QString &lineText)
{
    // Nothing that arrived before the line can answer it. A late 0x06 left
    // over from an earlier line would otherwise mark this event delivered
    // although the software never saw it.
    port->discardInput();
    const QByteArray bytes = lineText.toLocal8Bit();
    std::size_t written = 0;
    if (port->write(bytes.constData(), static_cast<std::size_t>(bytes.size()), written)
        && written == static_cast<std::size_t>(bytes.size()))
        return true;
    gone = port->lastErrorMeansGone();
    return false;
}

bool VelmoraExchange::readAnswer(int size, QByteArray &answer)
{
    answer = QByteArray(size, '\0');
    std::size_t received = 0;
    const bool succeeded = port->readFirstWithin(answer.data(), static_cast<std::size_t>(size),
                                                received, answerDeadlineMs(timing, size));
    answer.truncate(static_cast<int>(received));
    if (!succeeded)
        gone = port->lastErrorMeansGone();
    return succeeded;
}

unsigned VelmoraExchange::answerDeadlineMs(const SVelmoraComTiming &timing, int answerSize)
{
    // The pause before the answer plus the whole read it was given: the
    // same time-out as a pause followed by a read that waits for every byte.
    qint64 total = qint64(qMax(0, timing.answerPauseMs)) + qMax(0, timing.readConstantMs)
                   + qint64(qMax(0, timing.readPerByteMs)) * qMax(0, answerSize);
    // A configured wait longer than the default: slow monitoring software
    // gets that long, the answer still taken the moment it comes.
    if (timing.ackWaitMs > SVelmoraComTiming::kDefaultAckWaitMs)
        total = qMax<qint64>(total, timing.ackWaitMs);
    return static_cast<unsigned>(qMin<qint64>(total, std::numeric_limits<int>::max()));
}
