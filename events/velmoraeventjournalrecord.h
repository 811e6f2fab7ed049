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
//            the event in its one binary form (VelmoraEventCodec), older
//            forms included.
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
        // The operator let go of a set-aside event: it may be compacted away.
        Released = 5,
        // The operator sent a set-aside event again: it is pending once more.
        // A reader that does not know these two marks keeps the event set
        // aside, which loses nothing.
        Requeued = 6,
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

    // An intact record as scan() finds it, still in the caller's bytes.
    struct Found
    {
        Type type = Type::Event;
        qint64 journalId = 0;
        // Offset in the file and the whole record, frame included.
        qint64 offset = 0;
        const char *bytes = nullptr;
        int size = 0;
        // The device ID's UTF-8 bytes inside bytes; none in older records.
        const char *deviceId = nullptr;
        int deviceIdSize = 0;
    };

    static QByteArray encode(const VelmoraEventJournalRecord &record);
    // A header record or a mark, or with event an event record.
    static QByteArray encode(Type type, qint64 journalId, const SVelmoraMsg &event = SVelmoraMsg());
    // Every intact record of the file contents, in file order.
    static Scan decode(const QByteArray &contents);

    // Reads a file piece by piece: data holds the file's bytes from offset
    // base on. Passes every intact record that begins in them to found, in
    // file order, and keeps validEnd and skippedBytes of progress up to date
    // (progress.records is left alone). Returns how many of the bytes it is done
    // with; unless atEnd, the rest is to be given again followed by the
    // next bytes of the file. Holding kFrameSize + kMaxPayloadSize bytes
    // ahead is always enough to go on.
    template <typename Callback>
    static qint64 scan(const char *data, qint64 size, qint64 base, bool atEnd, Scan &progress,
                       Callback &&found);
    // The event an intact event record carries, record being all its bytes.
    static SVelmoraMsg eventOf(const char *record, int size);
    // The same, the event carrying the record's bytes as its form (shared).
    static SVelmoraMsg eventOf(const QByteArray &record);

    static quint32 crc32(const char *data, qint64 size, quint32 crc = 0);

    static constexpr int kFrameSize = 12;
    static constexpr int kMarkerSize = 4;
    // Header records and marks: frame, type byte and id.
    static constexpr int kIdRecordSize = kFrameSize + 1 + 8;
    // Where an event record's form (VelmoraEventCodec) begins.
    static constexpr int kEventFormStart = kIdRecordSize;
    // Far above any event; a larger length field is damage, not a record.
    static constexpr quint32 kMaxPayloadSize = 1u << 20;
    // Journal files are read, copied and written this much at a time. It
    // holds the largest record, so that scan() can always go on.
    static constexpr int kChunkSize = 4 * 1024 * 1024;
};
static_assert(VelmoraEventJournalRecord::kChunkSize
                  > VelmoraEventJournalRecord::kFrameSize + qint64(VelmoraEventJournalRecord::kMaxPayloadSize),
              "a chunk must hold the largest record");

namespace VelmoraEventJournalRecordDetail {
// Looks at one position of scan(): the size of the intact, well-formed
// record there (found filled in), 0 when there is none, or -1 when more
// bytes are needed to tell.
qint64 recordAt(const char *data, qint64 available, bool atEnd, VelmoraEventJournalRecord::Found &found);
// Where the next record may begin after position, or -1 when there is no
// marker in the bytes.
qint64 nextMarker(const char *data, qint64 size, qint64 position);
} // namespace VelmoraEventJournalRecordDetail

template <typename Callback>
qint64 VelmoraEventJournalRecord::scan(const char *data, qint64 size, qint64 base, bool atEnd,
                                       Scan &progress, Callback &&found)
{
    using namespace VelmoraEventJournalRecordDetail;
    qint64 position = 0;
    while (position < size) {
        Found record;
        const qint64 recordSize = recordAt(data + position, size - position, atEnd, record);
        if (recordSize < 0)
            return position;
        if (recordSize > 0) {
            record.offset = base + position;
            // An intact record of a kind this version does not know has no
            // bytes and is passed over.
            if (record.bytes)
                found(static_cast<const Found &>(record));
            position += recordSize;
            progress.validEnd = base + position;
            continue;
        }
        qint64 resume = nextMarker(data, size, position + 1);
        if (resume < 0) {
            // A marker may begin in the last bytes and go on in the next.
            resume = atEnd ? size : qMax(position + 1, size - (kMarkerSize - 1));
        }
        progress.skippedBytes += resume - position;
        position = resume;
    }
    return position;
}

#endif // VELMORAEVENTJOURNALRECORD_H
