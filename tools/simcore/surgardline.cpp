#include "surgardline.h"

#include <QRegularExpression>

namespace {

constexpr char kEventStart = '5';
constexpr char kKeepaliveStart = '1';
constexpr int kKeepaliveSpacesBeforeAt = 11;
constexpr int kKeepaliveSpacesAfterAt = 4;

bool allDigits(const QString &text)
{
    for (QChar c : text) {
        if (!c.isDigit())
            return false;
    }
    return !text.isEmpty();
}

// Splits "RRL" into receiver and line; the line number needs at least one digit.
bool splitReceiverAndLine(const QString &digits, int receiverDigits, SurgardLine *out)
{
    if (!allDigits(digits) || receiverDigits < 1 || digits.size() <= receiverDigits)
        return false;
    out->receiver = digits.left(receiverDigits);
    out->line = digits.mid(receiverDigits);
    return true;
}

bool decodeKeepalive(const QString &text, int receiverDigits, SurgardLine *out)
{
    const QString suffix = QString(kKeepaliveSpacesBeforeAt, QLatin1Char(' ')) + QLatin1Char('@')
                           + QString(kKeepaliveSpacesAfterAt, QLatin1Char(' '));
    if (!text.startsWith(QLatin1Char(kKeepaliveStart)) || !text.endsWith(suffix))
        return false;
    return splitReceiverAndLine(text.mid(1, text.size() - 1 - suffix.size()), receiverDigits, out);
}

bool decodeEvent(const QString &text, int receiverDigits, SurgardLine *out)
{
    // The body after the space: message type, account, qualifier letter,
    // event code, group, then the zone and optionally the fixed-width time.
    static const QRegularExpression body(QStringLiteral(
        "^(\\d\\d)([0-9A-F]{4})([ER])([0-9A-F]{3})([0-9A-F]{2})([0-9A-F]+?)"
        "(\\d\\d:\\d\\d:\\d\\d-\\d\\d/\\d\\d)?$"));
    if (!text.startsWith(QLatin1Char(kEventStart)))
        return false;
    const int space = text.indexOf(QLatin1Char(' '));
    if (space < 0 || !splitReceiverAndLine(text.mid(1, space - 1), receiverDigits, out))
        return false;
    const QRegularExpressionMatch match = body.match(text.mid(space + 1));
    if (!match.hasMatch())
        return false;
    out->messageType = match.captured(1);
    out->account = match.captured(2);
    out->qualifier = match.captured(3);
    out->event = match.captured(4);
    out->group = match.captured(5);
    out->zone = match.captured(6);
    out->time = match.captured(7);
    return true;
}

} // namespace

SurgardLine SurgardLine::decode(const QByteArray &text, int receiverDigits)
{
    SurgardLine result;
    result.raw = text;
    // Latin-1 keeps one character per byte, so a stray byte cannot turn
    // into something that matches.
    const QString latin = QString::fromLatin1(text);
    if (decodeEvent(latin, receiverDigits, &result)) {
        result.kind = Kind::Event;
        return result;
    }
    SurgardLine keepalive;
    keepalive.raw = text;
    if (decodeKeepalive(latin, receiverDigits, &keepalive)) {
        keepalive.kind = Kind::Keepalive;
        return keepalive;
    }
    SurgardLine unrecognised;
    unrecognised.raw = text;
    return unrecognised;
}

QString SurgardLine::printable(const QByteArray &bytes)
{
    QString result;
    for (char byte : bytes) {
        const quint8 value = quint8(byte);
        if (value >= 0x20 && value < 0x7F)
            result.append(QLatin1Char(byte));
        else
            result.append(QStringLiteral("<%1>").arg(value, 2, 16, QLatin1Char('0')).toUpper());
    }
    return result;
}

QString SurgardLine::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Event:
        return QStringLiteral("event");
    case Kind::Keepalive:
        return QStringLiteral("keepalive");
    case Kind::Unrecognised:
        break;
    }
    return QStringLiteral("unrecognised");
}
