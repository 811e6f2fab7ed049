#include "velmoraeventjournalrecord.h"

#include "velmoraeventcodec.h"

#include <array>
#include <cstring>

namespace {

const QByteArray kRecordMarker = QByteArrayLiteral("\xFFLJR");
constexpr int kLengthOffset = 4;
constexpr int kCrcOffset = 8;
constexpr int kIdSize = 8;

// Reflected CRC-32 with polynomial 0x04C11DB7, as in zlib and Ethernet.
constexpr std::array<quint32, 256> makeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 index = 0; index < 256; ++index) {
        quint32 value = index;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[index] = value;
    }
    return table;
}
constexpr std::array<quint32, 256> kCrcTable = makeCrcTable();

// Checks an intact payload and takes its type, id and device ID, and with
// event given its fields too; false when the payload does not hold a record
// of a known type, which the reader then passes over.
bool parsePayload(const char *payload, qint64 size, VelmoraEventJournalRecord::Found &found,
                  SVelmoraMsg *event)
{
    using Type = VelmoraEventJournalRecord::Type;
    if (size < 1 + kIdSize)
        return false;
    found.type = static_cast<Type>(static_cast<quint8>(payload[0]));
    found.journalId = static_cast<qint64>(VelmoraEventCodec::readLittleEndian(payload + 1, kIdSize));
    qint64 position = 1 + kIdSize;
    switch (found.type) {
    case Type::Header:
    case Type::Delivered:
    case Type::Refused:
    case Type::Released:
    case Type::Requeued:
        return position == size;
    case Type::Event:
        break;
    default:
        return false;
    }
    return VelmoraEventCodec::read(payload, size, position, event, &found.deviceId, &found.deviceIdSize);
}

} // namespace

quint32 VelmoraEventJournalRecord::crc32(const char *data, qint64 size, quint32 crc)
{
    crc = ~crc;
    for (qint64 index = 0; index < size; ++index)
        crc = kCrcTable[(crc ^ static_cast<quint8>(data[index])) & 0xFFu] ^ (crc >> 8);
    return ~crc;
}

QByteArray VelmoraEventJournalRecord::encode(const VelmoraEventJournalRecord &record)
{
    QByteArray payload;
    payload.append(static_cast<char>(record.type));
    VelmoraEventCodec::appendLittleEndian(payload, static_cast<quint64>(record.journalId), kIdSize);
    if (record.type == Type::Event)
        VelmoraEventCodec::append(payload, record.event);

    QByteArray bytes = kRecordMarker;
    VelmoraEventCodec::appendLittleEndian(bytes, static_cast<quint64>(payload.size()), 4);
    quint32 crc = crc32(bytes.constData() + kLengthOffset, 4);
    crc = crc32(payload.constData(), payload.size(), crc);
    VelmoraEventCodec::appendLittleEndian(bytes, crc, 4);
    bytes.append(payload);
    return bytes;
}

QByteArray VelmoraEventJournalRecord::encode(Type type, qint64 journalId, const SVelmoraMsg &event)
{
    VelmoraEventJournalRecord record;
    record.type = type;
    record.journalId = journalId;
    record.event = event;
    return encode(record);
}

VelmoraEventJournalRecord::Scan VelmoraEventJournalRecord::decode(const QByteArray &contents)
{
    Scan result;
    scan(contents.constData(), contents.size(), 0, true, result, [&](const Found &found) {
        VelmoraEventJournalRecord record;
        record.type = found.type;
        record.journalId = found.journalId;
        if (found.type == Type::Event)
            record.event = eventOf(found.bytes, found.size);
        result.records.append(record);
    });
    return result;
}

SVelmoraMsg VelmoraEventJournalRecord::eventOf(const char *record, int size)
{
    SVelmoraMsg event;
    Found found;
    parsePayload(record + kFrameSize, size - kFrameSize, found, &event);
    return event;
}

SVelmoraMsg VelmoraEventJournalRecord::eventOf(const QByteArray &record)
{
    SVelmoraMsg event = eventOf(record.constData(), record.size());
    event.encoded = record;
    event.encodedStart = kEventFormStart;
    return event;
}

qint64 VelmoraEventJournalRecordDetail::recordAt(const char *data, qint64 available, bool atEnd,
                                                 VelmoraEventJournalRecord::Found &found)
{
    using Record = VelmoraEventJournalRecord;
    if (available < Record::kFrameSize)
        return atEnd ? 0 : -1;
    if (std::memcmp(data, kRecordMarker.constData(), Record::kMarkerSize) != 0)
        return 0;
    const quint64 length = VelmoraEventCodec::readLittleEndian(data + kLengthOffset, 4);
    if (length > Record::kMaxPayloadSize)
        return 0;
    const qint64 recordSize = Record::kFrameSize + static_cast<qint64>(length);
    if (recordSize > available)
        return atEnd ? 0 : -1;
    quint32 crc = Record::crc32(data + kLengthOffset, 4);
    crc = Record::crc32(data + Record::kFrameSize, static_cast<qint64>(length), crc);
    if (crc != VelmoraEventCodec::readLittleEndian(data + kCrcOffset, 4))
        return 0;
    // An intact record of no known kind is passed over, as a later version's
    // record would be.
    if (parsePayload(data + Record::kFrameSize, static_cast<qint64>(length), found, nullptr)) {
        found.bytes = data;
        found.size = static_cast<int>(recordSize);
    }
    return recordSize;
}

qint64 VelmoraEventJournalRecordDetail::nextMarker(const char *data, qint64 size, qint64 position)
{
    const int index = QByteArray::fromRawData(data, static_cast<int>(size))
                          .indexOf(kRecordMarker, static_cast<int>(position));
    return index;
}
