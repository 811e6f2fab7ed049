#include "velmoraframe.h"

namespace {

constexpr int kSentFrameSize = 24;

// Both frames the receiver sends are plain, N = 16. The ACK carries the
// device's ID in place of FF FF FF and type 0001 in place of 0099; its
// checksum is 0x93 plus the ID bytes, the sum of its fixed bytes.
constexpr std::array<quint8, kSentFrameSize> kMacRequestFrame = {
    0x4D, 0xD4, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0xFF,
    0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x99, 0xA8, 0x4C, 0x0D, 0x0A};
constexpr std::array<quint8, kSentFrameSize> kAckTemplate = {
    0x4D, 0xD4, 0x00, 0x00, 0x10, 0x00, 0x00, 0x80, 0x00, 0x01, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x4C, 0x0D, 0x0A};
constexpr int kAckIdPosition = VelmoraFrame::kPayloadOffset + VelmoraFrame::kIdOffset;
constexpr int kAckChecksumPosition = kSentFrameSize - VelmoraFrame::kTailSize - 1;

QByteArray toByteArray(const quint8 *bytes, int length)
{
    return QByteArray(reinterpret_cast<const char *>(bytes), length);
}

} // namespace

quint8 VelmoraFrame::calcCrc(const quint8 *bytes, int length)
{
    quint8 sum = 0;
    for (int i = 0; i < length; ++i)
        sum = static_cast<quint8>(sum + bytes[i]);
    return sum;
}

int VelmoraFrame::xorDecrypt(const quint8 *source, int length, const quint8 *key, int keyLength,
                             quint8 *destination)
{
    for (int i = 0; i < length; ++i)
        destination[i] = keyLength > 0 ? static_cast<quint8>(source[i] ^ key[i % keyLength])
                                       : source[i];
    return length;
}

QString VelmoraFrame::toHexString(const quint8 *bytes, int length)
{
    if (length <= 0)
        return QString();
    static const char digits[] = "0123456789ABCDEF";
    QString text(2 * length, Qt::Uninitialized);
    QChar *out = text.data();
    for (int i = 0; i < length; ++i) {
        *out++ = QLatin1Char(digits[bytes[i] >> 4]);
        *out++ = QLatin1Char(digits[bytes[i] & 0x0F]);
    }
    return text;
}

QByteArray VelmoraFrame::macRequest()
{
    return toByteArray(kMacRequestFrame.data(), kSentFrameSize);
}

QByteArray VelmoraFrame::ack(const DeviceId &id)
{
    std::array<quint8, kSentFrameSize> frame = kAckTemplate;
    for (int i = 0; i < kIdSize; ++i)
        frame[kAckIdPosition + i] = id[i];
    frame[kAckChecksumPosition] = calcCrc(frame.data() + kLengthOffset, kAckChecksumPosition - kLengthOffset);
    return toByteArray(frame.data(), kSentFrameSize);
}
