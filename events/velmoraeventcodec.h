#ifndef VELMORAEVENTCODEC_H
#define VELMORAEVENTCODEC_H

#include "svelmoramsg.h"

#include <QByteArray>
#include <QtGlobal>

// The one binary form of an event, written into the event journal and kept
// by the serial worker for the events it holds. It is made once, by the
// event store that keeps the event (SVelmoraMsg::encoded carries it on):
//   the six text fields (account, event, group, zone, message type, time),
//   each as a 4-byte little-endian length and its UTF-8 bytes;
//   the device ID the same way;
//   the receive time in milliseconds since 1970 UTC, 8 bytes little-endian,
//   the lowest 64-bit number when it is not known;
//   the peer address as a text field.
// Events written before the device ID and the receive time were kept end
// after the six text fields and are read with an empty device ID and no
// receive time; those written before the peer address was kept end after the
// receive time and are read with an empty address. Bytes after the peer
// address are left to later fields. The journal id is not part of the form:
// the journal keeps it in the record around it.
class VelmoraEventCodec
{
public:
    static void append(QByteArray &bytes, const SVelmoraMsg &event);
    static QByteArray encode(const SVelmoraMsg &event);
    // The bytes that end in the event's form, and at start where it begins:
    // the ones it carries when made already, else the form made now.
    static QByteArray formOf(const SVelmoraMsg &event, int *start);

    // Reads the event that fills data[position, size) and moves position to
    // size; false when it is cut short or malformed. With event null only the
    // form is checked. deviceId, when given, points at the device ID's UTF-8
    // bytes inside data (null in the oldest form).
    static bool read(const char *data, qint64 size, qint64 &position, SVelmoraMsg *event,
                     const char **deviceId = nullptr, int *deviceIdSize = nullptr);
    // The event of the form made by encode() that fills bytes from start on;
    // fields it lacks stay empty. The event carries the bytes themselves as
    // its form (shared, not copied).
    static SVelmoraMsg decode(const QByteArray &bytes, int start = 0);

    static void appendLittleEndian(QByteArray &bytes, quint64 value, int size);
    static quint64 readLittleEndian(const char *data, int size);
};

#endif // VELMORAEVENTCODEC_H
