#ifndef VELMORAFRAME_H
#define VELMORAFRAME_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <array>

// The frame exchanged with the devices in both directions:
//   4D D4 | flag | length N (big-endian) | N payload bytes | 4C 0D 0A
// N counts the payload including its last byte, the checksum. Payload bytes
// 6 to 8 are the device ID and 13 to 14 the packet type; the data part
// follows from byte 15 up to the checksum.
class VelmoraFrame
{
public:
    static constexpr quint8 kMarker0 = 0x4D;
    static constexpr quint8 kMarker1 = 0xD4;
    static constexpr quint8 kEncryptedFlag = 1;
    static constexpr std::array<quint8, 3> kTail = {0x4C, 0x0D, 0x0A};

    static constexpr int kFlagOffset = 2;
    static constexpr int kLengthOffset = 3;
    static constexpr int kPayloadOffset = 5;
    static constexpr int kTailSize = 3;
    static constexpr int kOverhead = kPayloadOffset + kTailSize;

    // Below 16 the payload has no room for its header and checksum; above
    // 256 it would not fit the working buffer of one payload.
    static constexpr int kMinPayloadLength = 16;
    static constexpr int kMaxPayloadLength = 256;
    static constexpr int kMaxFrameSize = kMaxPayloadLength + kOverhead;

    // N, read from the length field of the frame that starts at frame
    // (kPayloadOffset bytes at least).
    static int payloadLength(const quint8 *frame)
    {
        return (frame[kLengthOffset] << 8) | frame[kLengthOffset + 1];
    }
    static bool isPayloadLengthValid(int length)
    {
        return length >= kMinPayloadLength && length <= kMaxPayloadLength;
    }
    // The whole frame, markers to tail, for a payload of N bytes.
    static constexpr int frameSize(int payloadLength) { return payloadLength + kOverhead; }

    static constexpr int kIdOffset = 6;
    static constexpr int kIdSize = 3;
    static constexpr int kTypeOffset = 13;
    static constexpr int kDataOffset = 15;
    static constexpr int kMacSize = 8;

    using DeviceId = std::array<quint8, kIdSize>;
    using Mac = std::array<quint8, kMacSize>;

    // Sum of the bytes modulo 256; 0 for a length of 0 or less.
    static quint8 calcCrc(const quint8 *bytes, int length);

    // destination[i] = source[i] XOR key[i mod keyLength]. Without a key the
    // bytes are copied unchanged. Returns the length.
    static int xorDecrypt(const quint8 *source, int length, const quint8 *key, int keyLength,
                          quint8 *destination);

    // Every byte as two uppercase hex digits, no separators.
    static QString toHexString(const quint8 *bytes, int length);

    // Sent once on every new connection; the device answers with its MAC.
    static QByteArray macRequest();

    // Acknowledges a frame to the device with the given ID.
    static QByteArray ack(const DeviceId &id);
};

#endif // VELMORAFRAME_H
