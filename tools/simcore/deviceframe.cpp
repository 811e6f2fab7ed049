#include "deviceframe.h"

namespace {

constexpr quint8 kMarker0 = 0x4D;
constexpr quint8 kMarker1 = 0xD4;
constexpr quint8 kPlainFlag = 0x00;
constexpr quint8 kEncryptedFlag = 0x01;
constexpr quint16 kAckHeaderWord = 0x8000;
// Payload bytes 4 and 5; the converter sends 01 01 and reads neither.
constexpr quint8 kHeaderByte4 = 0x01;
constexpr quint8 kHeaderByte5 = 0x01;
constexpr int kReservedBytesAfterId = 4;
const DeviceFrame::DeviceId kBroadcastId = {0xFF, 0xFF, 0xFF};
constexpr char kTail[DeviceFrame::kTailSize] = {0x4C, 0x0D, 0x0A};

void appendWord(QByteArray &bytes, quint16 word)
{
    bytes.append(char(word >> 8));
    bytes.append(char(word & 0xFF));
}

} // namespace

QByteArray DeviceFrame::macRequest()
{
    return frame(0, kBroadcastId, kMacRequestType, QByteArray(), nullptr);
}

QByteArray DeviceFrame::ack(const DeviceId &id)
{
    return frame(kAckHeaderWord, id, kAckType, QByteArray(), nullptr);
}

QByteArray DeviceFrame::macReply(const DeviceId &id, const Mac &mac)
{
    QByteArray data;
    for (quint8 byte : mac)
        data.append(char(byte));
    return frame(0, id, kMacReplyType, data, nullptr);
}

QByteArray DeviceFrame::eventFrame(quint16 packetType, const DeviceId &id, const DeviceEvent &event,
                                   const Mac *key)
{
    // Data byte 0 is unused by the converter; devices send 00.
    QByteArray data(1, '\0');
    data.append(char(event.messageType));
    data.append(char((event.account >> 16) & 0xFF));
    appendWord(data, quint16(event.account & 0xFFFF));
    appendWord(data, event.event);
    data.append(char(event.group));
    appendWord(data, event.zone);
    return frame(0, id, packetType, data, key);
}

quint8 DeviceFrame::checksum(const QByteArray &bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum = quint8(sum + quint8(byte));
    return sum;
}

QByteArray DeviceFrame::xorWithKey(const QByteArray &bytes, const Mac &key)
{
    QByteArray result = bytes;
    for (int i = 0; i < result.size(); ++i)
        result[i] = char(quint8(result[i]) ^ key[size_t(i) % key.size()]);
    return result;
}

DeviceFrame::DeviceId DeviceFrame::idFromNumber(quint32 number)
{
    return {quint8((number >> 16) & 0xFF), quint8((number >> 8) & 0xFF), quint8(number & 0xFF)};
}

quint32 DeviceFrame::idToNumber(const DeviceId &id)
{
    return (quint32(id[0]) << 16) | (quint32(id[1]) << 8) | quint32(id[2]);
}

QByteArray DeviceFrame::frame(quint16 headerWord, const DeviceId &id, quint16 packetType,
                              const QByteArray &data, const Mac *key)
{
    QByteArray payload;
    appendWord(payload, 0);
    appendWord(payload, headerWord);
    payload.append(char(kHeaderByte4));
    payload.append(char(kHeaderByte5));
    for (quint8 byte : id)
        payload.append(char(byte));
    payload.append(kReservedBytesAfterId, '\0');
    appendWord(payload, packetType);
    payload.append(data);

    // The length counts the checksum byte too, and the checksum covers the
    // two length bytes as well as the plain payload.
    const quint16 length = quint16(payload.size() + 1);
    QByteArray lengthBytes;
    appendWord(lengthBytes, length);
    payload.append(char(checksum(lengthBytes + payload)));

    QByteArray result;
    result.append(char(kMarker0));
    result.append(char(kMarker1));
    result.append(char(key ? kEncryptedFlag : kPlainFlag));
    result.append(lengthBytes);
    // Encryption covers the whole payload, checksum byte included.
    result.append(key ? xorWithKey(payload, *key) : payload);
    result.append(kTail, kTailSize);
    return result;
}
