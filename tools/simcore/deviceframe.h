#ifndef DEVICEFRAME_H
#define DEVICEFRAME_H

#include <QByteArray>
#include <QtGlobal>

#include <array>

// The fields of one alarm event as a device puts them into the data part of
// its frame. The converter renders them as hex text, so the values are the
// hex digits an installer reads in the monitoring software (account 0x001234
// is shown as 001234, zone 0x005 as 005).
struct DeviceEvent
{
    quint32 account = 0x001234;  // 24 bits
    quint16 event = 0x1130;      // qualifier digit and three-digit event code
    quint8 group = 0x01;
    quint16 zone = 0x005;        // zone or user number
    quint8 messageType = 0x18;
};

// Builds the frames a device sends and the frames it must receive, byte for
// byte. Written apart from the converter's own decoder so that each checks
// the other.
class DeviceFrame
{
public:
    using DeviceId = std::array<quint8, 3>;
    using Mac = std::array<quint8, 8>;

    static constexpr quint16 kAckType = 0x0001;
    static constexpr quint16 kPeriodicTestType = 0x0003;
    static constexpr quint16 kAlarmType = 0x0004;
    static constexpr quint16 kMacReplyType = 0x0090;
    static constexpr quint16 kMacRequestType = 0x0099;
    static constexpr int kHeadSize = 5;  // two markers, flag, two length bytes
    static constexpr int kTailSize = 3;

    // The MAC request every new connection receives first.
    static QByteArray macRequest();
    // The converter's acknowledgement of any frame carrying this device ID.
    static QByteArray ack(const DeviceId &id);
    // Answer to the MAC request; always plain, since the converter holds no
    // key before it has read this frame.
    static QByteArray macReply(const DeviceId &id, const Mac &mac);
    // An alarm (or restore) frame, or a periodic test frame when packetType is
    // kPeriodicTestType. Encrypted with key when key is not null.
    static QByteArray eventFrame(quint16 packetType, const DeviceId &id, const DeviceEvent &event,
                                 const Mac *key);

    // 8-bit sum of the bytes.
    static quint8 checksum(const QByteArray &bytes);
    // XOR of every byte with the key, the key repeated from the first byte.
    static QByteArray xorWithKey(const QByteArray &bytes, const Mac &key);

    // Device ID 0x123456 as the bytes 12 34 56 (24 bits; higher bits dropped).
    static DeviceId idFromNumber(quint32 number);
    static quint32 idToNumber(const DeviceId &id);

private:
    // headerWord is payload bytes 2 and 3: 80 00 in an ACK, 00 00 elsewhere.
    static QByteArray frame(quint16 headerWord, const DeviceId &id, quint16 packetType,
                            const QByteArray &data, const Mac *key);
};

#endif // DEVICEFRAME_H
