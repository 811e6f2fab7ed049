#include "velmoraeventcodec.h"

#include <QDateTime>
#include <QString>

#include <array>
#include <limits>

namespace {

constexpr int kLengthSize = 4;
constexpr int kTimeSize = 8;
constexpr int kFieldCount = 6;
// Stands for a receive time that is not known.
constexpr qint64 kUnknownTime = std::numeric_limits<qint64>::min();

// The text fields in the order they are stored.
std::array<QString *, kFieldCount> fieldsOf(SVelmoraMsg &event)
{
    return {&event.account, &event.event, &event.group, &event.zone, &event.messageType, &event.time};
}

std::array<const QString *, kFieldCount> fieldsOf(const SVelmoraMsg &event)
{
    return {&event.account, &event.event, &event.group, &event.zone, &event.messageType, &event.time};
}

void appendText(QByteArray &bytes, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    VelmoraEventCodec::appendLittleEndian(bytes, static_cast<quint64>(utf8.size()), kLengthSize);
    bytes.append(utf8);
}

// Reads a 4-byte length and the bytes it counts at position; false when
// the data end first.
bool takeText(const char *data, qint64 size, qint64 &position, const char **text, int *length)
{
    if (size - position < kLengthSize)
        return false;
    const auto textLength = static_cast<qint64>(VelmoraEventCodec::readLittleEndian(data + position, kLengthSize));
    position += kLengthSize;
    if (textLength > size - position)
        return false;
    *text = data + position;
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

} // namespace

void VelmoraEventCodec::appendLittleEndian(QByteArray &bytes, quint64 value, int size)
{
    for (int index = 0; index < size; ++index)
        bytes.append(static_cast<char>((value >> (8 * index)) & 0xFFu));
}

quint64 VelmoraEventCodec::readLittleEndian(const char *data, int size)
{
    quint64 value = 0;
    for (int index = size - 1; index >= 0; --index)
        value = (value << 8) | static_cast<quint8>(data[index]);
    return value;
}

void VelmoraEventCodec::append(QByteArray &bytes, const SVelmoraMsg &event)
{
    for (const QString *field : fieldsOf(event))
        appendText(bytes, *field);
    appendText(bytes, event.deviceId);
    const qint64 milliseconds = event.receivedAt.isValid() ? event.receivedAt.toMSecsSinceEpoch() : kUnknownTime;
    appendLittleEndian(bytes, static_cast<quint64>(milliseconds), kTimeSize);
    appendText(bytes, event.peerAddress);
}

QByteArray VelmoraEventCodec::encode(const SVelmoraMsg &event)
{
    QByteArray bytes;
    bytes.reserve(kFieldCount * kLengthSize + event.account.size() + event.event.size() + event.group.size()
                  + event.zone.size() + event.messageType.size() + event.time.size() + kLengthSize
                  + event.deviceId.size() + kTimeSize + kLengthSize + event.peerAddress.size());
    append(bytes, event);
    return bytes;
}

QByteArray VelmoraEventCodec::formOf(const SVelmoraMsg &event, int *start)
{
    if (event.encoded.isEmpty()) {
        *start = 0;
        return encode(event);
    }
    *start = event.encodedStart;
    return event.encoded;
}

bool VelmoraEventCodec::read(const char *data, qint64 size, qint64 &position, SVelmoraMsg *event,
                             const char **deviceId, int *deviceIdSize)
{
    std::array<QString *, kFieldCount> fields{};
    if (event)
        fields = fieldsOf(*event);
    for (QString *field : fields) {
        const char *text = nullptr;
        int length = 0;
        if (!takeText(data, size, position, &text, &length))
            return false;
        if (field)
            *field = textOf(text, length);
    }
    // Events written before the device ID and the receive time were kept
    // end here.
    if (position == size)
        return true;
    const char *device = nullptr;
    int deviceSize = 0;
    if (!takeText(data, size, position, &device, &deviceSize) || size - position < kTimeSize)
        return false;
    if (deviceId) {
        *deviceId = device;
        *deviceIdSize = deviceSize;
    }
    if (event) {
        event->deviceId = textOf(device, deviceSize);
        const auto milliseconds = static_cast<qint64>(readLittleEndian(data + position, kTimeSize));
        if (milliseconds != kUnknownTime)
            event->receivedAt = QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
    }
    position += kTimeSize;
    // Events written before the peer address was kept end here.
    if (position == size)
        return true;
    const char *peerAddress = nullptr;
    int peerAddressSize = 0;
    if (!takeText(data, size, position, &peerAddress, &peerAddressSize))
        return false;
    if (event)
        event->peerAddress = textOf(peerAddress, peerAddressSize);
    // Whatever follows belongs to fields of a later version.
    position = size;
    return true;
}

SVelmoraMsg VelmoraEventCodec::decode(const QByteArray &bytes, int start)
{
    SVelmoraMsg event;
    qint64 position = start;
    if (read(bytes.constData(), bytes.size(), position, &event)) {
        event.encoded = bytes;
        event.encodedStart = start;
    }
    return event;
}
