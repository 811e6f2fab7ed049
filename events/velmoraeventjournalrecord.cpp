#include "velmoraeventjournalrecord.h"

#include <QString>

#include <array>
#include <cstring>

namespace {

const QByteArray kRecordMarker = QByteArrayLiteral("\xFFLJR");
constexpr int kLengthOffset = 4;
constexpr int kCrcOffset = 8;
constexpr int kIdSize = 8;
constexpr int kFieldCount = 6;

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

void appendLittleEndian(QByteArray &bytes, quint64 value, int size)
{
    for (int index = 0; index < size; ++index)
        bytes.append(static_cast<char>((value >> (8 * index)) & 0xFFu));
}

quint64 readLittleEndian(const char *data, int size)
{
    quint64 value = 0;
    for (int index = size - 1; index >= 0; --index)
        value = (value << 8) | static_cast<quint8>(data[index]);
    return value;
}

// The text fields in the order they are stored.
std::array<QString *, kFieldCount> fieldsOf(SVelmoraMsg &event)
{
    return {&event.account, &event.event, &event.group, &event.zone, &event.messageType, &event.time};
}

std::array<const QString *, kFieldCount> fieldsOf(const SVelmoraMsg &event)
{
    return {&event.account, &event.event, &event.group, &event.zone, &event.messageType, &event.time};
}

// Fills record from an intact payload; false when the payload does not hold
// a record of a known type, which the reader then passes over.
bool parsePayload(const char *payload, qint64 size, VelmoraEventJournalRecord &record)
{
    using Type = VelmoraEventJournalRecord::Type;
    if (size < 1 + kIdSize)
        return false;
    const auto type = static_cast<Type>(static_cast<quint8>(payload[0]));
    record.type = type;
    record.journalId = static_cast<qint64>(readLittleEndian(payload + 1, kIdSize));
    qint64 position = 1 + kIdSize;
    switch (type) {
    case Type::Header:
    case Type::Delivered:
    case Type::Refused:
        return position == size;
    case Type::Event:
        break;
    default:
        return false;
    }
    for (QString *field : fieldsOf(record.event)) {
        if (size - position < 4)
            return false;
        const qint64 length = static_cast<qint64>(readLittleEndian(payload + position, 4));
        position += 4;
        if (length > size - position)
            return false;
        // An empty field comes back as "" rather than a null string, as the
        // record's fields always are.
        *field =
            length == 0 ? QStringLiteral("")
                        : QString::fromUtf8(payload + position, static_cast<int>(length));
        position += length;
    }
    return position == size;
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
    appendLittleEndian(payload, static_cast<quint64>(record.journalId), kIdSize);
    if (record.type == Type::Event) {
        for (const QString *field : fieldsOf(record.event)) {
            const QByteArray text = field->toUtf8();
            appendLittleEndian(payload, static_cast<quint64>(text.size()), 4);
            payload.append(text);
        }
    }

    QByteArray bytes = kRecordMarker;
    appendLittleEndian(bytes, static_cast<quint64>(payload.size()), 4);
    quint32 crc = crc32(bytes.constData() + kLengthOffset, 4);
    crc = crc32(payload.constData(), payload.size(), crc);
    appendLittleEndian(bytes, crc, 4);
    bytes.append(payload);
    return bytes;
}

VelmoraEventJournalRecord::Scan VelmoraEventJournalRecord::decode(const QByteArray &contents)
{
    Scan scan;
    const char *const data = contents.constData();
    const qint64 size = contents.size();
    qint64 position = 0;
    while (position < size) {
        bool intact = false;
        qint64 payloadSize = 0;
        if (size - position >= kFrameSize
            && std::memcmp(data + position, kRecordMarker.constData(), kRecordMarker.size()) == 0) {
            const quint64 length = readLittleEndian(data + position + kLengthOffset, 4);
            if (length <= kMaxPayloadSize
                && static_cast<qint64>(length) <= size - position - kFrameSize) {
                payloadSize = static_cast<qint64>(length);
                quint32 crc = crc32(data + position + kLengthOffset, 4);
                crc = crc32(data + position + kFrameSize, payloadSize, crc);
                intact = crc == readLittleEndian(data + position + kCrcOffset, 4);
            }
        }
        if (intact) {
            VelmoraEventJournalRecord record;
            if (parsePayload(data + position + kFrameSize, payloadSize, record))
                scan.records.append(record);
            position += kFrameSize + payloadSize;
            scan.validEnd = position;
            continue;
        }
        const int next = contents.indexOf(kRecordMarker, static_cast<int>(position) + 1);
        const qint64 resume = next < 0 ? size : next;
        scan.skippedBytes += resume - position;
        position = resume;
    }
    return scan;
}
