#include "velmorareceiverformat.h"

namespace {

const char kEventLineStart[] = "5";
const char kKeepaliveLineStart[] = "1";
// The record's messageType is not sent; the receiver format wants 18 here.
const char kEventProtocol[] = " 18";
const char kKeepaliveFiller[] = "           @    ";
const char kDefaultServer[] = "01";
const char kDefaultLine[] = "1";
constexpr int kServerWidth = 2;
// Accounts travel as six hex digits; the receiver line carries the last four.
constexpr int kAccountWidth = 4;
constexpr int kAccountCut = 2;
const QChar kNewEventQualifier = QLatin1Char('1');
const char kNewEventLetter[] = "E";
const char kRestoreLetter[] = "R";

} // namespace

QString VelmoraReceiverFormat::eventLine(const QString &server, const QString &line,
                                         const SVelmoraMsg &msg, bool appendTime)
{
    QString text = QLatin1String(kEventLineStart) + server + line + QLatin1String(kEventProtocol);
    text += msg.account.length() > kAccountWidth ? msg.account.mid(kAccountCut) : msg.account;
    if (!msg.event.isEmpty()) {
        text += QLatin1String(msg.event.at(0) == kNewEventQualifier ? kNewEventLetter
                                                                     : kRestoreLetter);
        text += msg.event.mid(1);
    }
    text += msg.group + msg.zone;
    if (appendTime)
        text += msg.time;
    text += QLatin1Char(kTerminator);
    return text;
}

QString VelmoraReceiverFormat::printableLine(const QString &line)
{
    QString shown;
    shown.reserve(line.size() + 4);
    for (const QChar character : line) {
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            shown += QStringLiteral("<%1>").arg(character.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            shown += character;
    }
    return shown;
}

QString VelmoraReceiverFormat::keepaliveLine(const QString &server, const QString &line)
{
    return QLatin1String(kKeepaliveLineStart) + server + line + QLatin1String(kKeepaliveFiller)
           + QLatin1Char(kTerminator);
}

QString VelmoraReceiverFormat::serverText(const QString &configured)
{
    return configured.isEmpty() ? QString::fromLatin1(kDefaultServer)
                                : zeroPad(configured, kServerWidth);
}

QString VelmoraReceiverFormat::lineText(const QString &configured)
{
    return configured.isEmpty() ? QString::fromLatin1(kDefaultLine) : configured;
}

QString VelmoraReceiverFormat::zeroPad(const QString &text, int width)
{
    if (text.length() >= width)
        return text;
    return QString(width - text.length(), QLatin1Char('0')) + text;
}

bool VelmoraReceiverFormat::isAcknowledged(const QByteArray &answer)
{
    return !answer.isEmpty() && answer.at(0) == kAck;
}

bool VelmoraReceiverFormat::isRefusal(const QByteArray &answer)
{
    return !answer.isEmpty() && answer.at(0) == kNak;
}

VelmoraReceiverFormat::AttemptOutcome
VelmoraReceiverFormat::judgeEventAttempt(int attempt, bool readSucceeded, const QByteArray &answer)
{
    if (isAcknowledged(answer))
        return AttemptOutcome::Acknowledged;
    if (attempt >= kEventAttempts || (attempt == 2 && !readSucceeded))
        return AttemptOutcome::GiveUp;
    return AttemptOutcome::TryAgain;
}
