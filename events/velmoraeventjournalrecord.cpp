#include "velmoraeventjournalrecord.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <cstring>
#include <limits>

namespace {

const QByteArray kRecordMarker = QByteArrayLiteral("\xFFLJR");
constexpr int kLengthOffset = 4;
constexpr int kCrcOffset = 8;
constexpr int kIdSize = 8;
constexpr int kFieldCount = 6;
constexpr int kTimeSize = 8;
// Stands for a receive time that is not known.
constexpr qint64 kUnknownTime = std::numeric_limits<qint64>::min();

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

// Reads a 4-byte length and the bytes it counts at position; false when
// the payload ends first.
bool takeText(const char *payload, qint64 size, qint64 &position, const char **text, int *length)
{
    if (size - position < 4)
        return false;
    const qint64 textLength = static_cast<qint64>(readLittleEndian(payload + position, 4));
    position += 4;
    if (textLength > size - position)
        return false;
    *text = payload + position;
    *length = static_cast<int>(textLength);
    position += textLength;
    return true;
}

// An empty field comes back as "" rather than a null string, as the record's
// fields always are.
QString textOf(const char *text, int length)
{
    return length == 0 ? QStringLiteral("") : QString::fromUtf8(text, length);
}

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
    found.journalId = static_cast<qint64>(readLittleEndian(payload + 1, kIdSize));
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
    std::array<QString *, kFieldCount> fields{};
    if (event)
        fields = fieldsOf(*event);
    for (QString *field : fields) {
        const char *text = nullptr;
        int length = 0;
        if (!takeText(payload, size, position, &text, &length))
            return false;
        if (field)
            *field = textOf(text, length);
    }
    // Records written before the device ID and the receive time were kept
    // end here.
    if (position == size)
        return true;
    if (!takeText(payload, size, position, &found.deviceId, &found.deviceIdSize)
        || size - position < kTimeSize) {
        return false;
    }
    if (event) {
        event->deviceId = textOf(found.deviceId, found.deviceIdSize);
        const auto milliseconds = static_cast<qint64>(readLittleEndian(payload + position, kTimeSize));
        if (milliseconds != kUnknownTime)
            event->receivedAt = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
    }
    position += kTimeSize;
    // Records written before the peer address was kept end here.
    if (position == size)
        return true;
    const char *peerAddress = nullptr;
    int peerAddressSize = 0;
    if (!takeText(payload, size, position, &peerAddress, &peerAddressSize))
        return false;
    if (event)
        event->peerAddress = textOf(peerAddress, peerAddressSize);
    // Whatever follows belongs to fields of a later version.
    return true;
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
        const QByteArray deviceId = record.event.deviceId.toUtf8();
        appendLittleEndian(payload, static_cast<quint64>(deviceId.size()), 4);
        payload.append(deviceId);
        const qint64 milliseconds = record.event.receivedAt.isValid()
            ? record.event.receivedAt.toMSecsSinceEpoch()
            : kUnknownTime;
        appendLittleEndian(payload, static_cast<quint64>(milliseconds), kTimeSize);
        const QByteArray peerAddress = record.event.peerAddress.toUtf8();
        appendLittleEndian(payload, static_cast<quint64>(peerAddress.size()), 4);
        payload.append(peerAddress);
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

qint64 VelmoraEventJournalRecordDetail::recordAt(const char *data, qint64 available, bool atEnd,
                                                 VelmoraEventJournalRecord::Found &found)
{
    using Record = VelmoraEventJournalRecord;
    if (available < Record::kFrameSize)
        return atEnd ? 0 : -1;
    if (std::memcmp(data, kRecordMarker.constData(), Record::kMarkerSize) != 0)
        return 0;
    const quint64 length = readLittleEndian(data + kLengthOffset, 4);
    if (length > Record::kMaxPayloadSize)
        return 0;
    const qint64 recordSize = Record::kFrameSize + static_cast<qint64>(length);
    if (recordSize > available)
        return atEnd ? 0 : -1;
    quint32 crc = Record::crc32(data + kLengthOffset, 4);
    crc = Record::crc32(data + Record::kFrameSize, static_cast<qint64>(length), crc);
    if (crc != readLittleEndian(data + kCrcOffset, 4))
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
