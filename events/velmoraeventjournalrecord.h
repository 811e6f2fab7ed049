#ifndef VELMORAEVENTJOURNALRECORD_H
#define VELMORAEVENTJOURNALRECORD_H

#include "svelmoramsg.h"

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// One record of the event journal file and the byte format it is stored in.
//
// Every record is framed as
//   marker   4 bytes  FF 'L' 'J' 'R'
//   length   4 bytes  payload size, little-endian
//   crc      4 bytes  CRC-32 (IEEE 802.3) of the length field and the payload
//   payload  type byte, journal id (8 bytes, little-endian), and for events
//            the six text fields, each as a 4-byte length and UTF-8 bytes.
// A record cut short or damaged fails its CRC and is skipped; the marker lets
// the reader find the next intact record after a damaged one. 0xFF never
// occurs in UTF-8, so the marker cannot hide inside a text field.
struct VelmoraEventJournalRecord
{
    enum class Type : quint8 {
        // Carries the next journal id to hand out, so that ids do not start
        // over after the file has been compacted.
        Header = 1,
        Event = 2,
        Delivered = 3,
        Refused = 4,
    };

    Type type = Type::Event;
    qint64 journalId = 0;
    SVelmoraMsg event;

    // What decode() found in a journal file.
    struct Scan
    {
        QVector<VelmoraEventJournalRecord> records;
        // Offset just past the last intact record; the rest is a torn tail.
        qint64 validEnd = 0;
        // Bytes that belonged to no intact record, torn tail included.
        qint64 skippedBytes = 0;
    };

    static QByteArray encode(const VelmoraEventJournalRecord &record);
    // Every intact record of the file contents, in file order.
    static Scan decode(const QByteArray &contents);

    static quint32 crc32(const char *data, qint64 size, quint32 crc = 0);

    static constexpr int kFrameSize = 12;
    // Far above any event; a larger length field is damage, not a record.
    static constexpr quint32 kMaxPayloadSize = 1u << 20;
};

#endif // VELMORAEVENTJOURNALRECORD_H
