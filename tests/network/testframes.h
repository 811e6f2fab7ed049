#ifndef TESTFRAMES_H
#define TESTFRAMES_H

#include <QByteArray>

// Device frames for the tests, built the way a device builds them: header
// bytes 00 00 00 00 01 01, the ID, four zero bytes, the type, the data part,
// then the checksum over the length bytes and the plain payload, optionally
// XOR-encrypted with the device's MAC, and the tail 4C 0D 0A.
namespace TestFrames {

inline QByteArray frame(const QByteArray &id, quint16 type, const QByteArray &data,
                        bool encrypted = false, const QByteArray &mac = QByteArray(8, '\0'))
{
    QByteArray payload = QByteArray::fromHex("000000000101") + id + QByteArray(4, '\0');
    payload.append(static_cast<char>(type >> 8)).append(static_cast<char>(type & 0xFF)).append(data);
    const int length = payload.size() + 1;
    quint8 sum = static_cast<quint8>((length >> 8) + (length & 0xFF));
    for (char byte : payload)
        sum = static_cast<quint8>(sum + static_cast<quint8>(byte));
    payload.append(static_cast<char>(sum));
    if (encrypted) {
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = static_cast<char>(payload[i] ^ mac[i % mac.size()]);
    }
    QByteArray bytes = QByteArray::fromHex("4DD4");
    bytes.append(encrypted ? '\x01' : '\x00');
    bytes.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    return bytes + payload + QByteArray::fromHex("4C0D0A");
}

// An alarm event: data byte 0 unused, then message type, account, event,
// group and zone as the receiver line needs them.
inline QByteArray event(const QByteArray &id, quint16 type, const QByteArray &fields)
{
    return frame(id, type, QByteArray(1, '\0') + fields);
}

} // namespace TestFrames

#endif // TESTFRAMES_H
