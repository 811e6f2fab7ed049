#ifndef SURGARDLINE_H
#define SURGARDLINE_H

#include <QByteArray>
#include <QString>

// One line received from the converter on the serial side, decoded.
// Event line:     5 RR L ' ' 18 AAAA Q EEE GG ZZZ [hh:mm:ss-dd/MM]
// Keepalive line: 1 RR L, eleven spaces, '@', four spaces
// (the 0x14 terminator is not part of the text decoded here).
class SurgardLine
{
public:
    enum class Kind { Event, Keepalive, Unrecognised };

    // receiverDigits says where the receiver number ends and the line number
    // begins; the line itself does not show it.
    static SurgardLine decode(const QByteArray &text, int receiverDigits = 2);

    // The raw text with control and non-ASCII bytes shown as <hh>.
    static QString printable(const QByteArray &bytes);
    static QString kindName(Kind kind);

    Kind kind = Kind::Unrecognised;
    QByteArray raw;
    QString receiver;
    QString line;
    QString messageType;
    QString account;
    QString qualifier;  // "E" (new event) or "R" (restore)
    QString event;      // three-digit event code
    QString group;
    QString zone;
    QString time;       // empty when the converter does not append it
};

#endif // SURGARDLINE_H
