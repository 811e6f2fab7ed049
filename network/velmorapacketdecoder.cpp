#include "velmorapacketdecoder.h"

#include "svelmoraclient.h"
#include "velmoraframe.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace {

using Kind = SVelmoraFrameOutcome::Kind;
using Problem = SVelmoraFrameOutcome::Problem;

const char kTimePattern[] = "hh:mm:ss-dd/MM";

// The packet types that carry an alarm event in their data part.
constexpr std::array<quint16, 9> kAlarmTypes = {0x0004, 0x0005, 0x0006, 0x0007, 0x0008,
                                                0x0009, 0x0010, 0x0016, 0x0017};

// Data part of an event frame: byte 0 unused, 1 message type, 2-4 account,
// 5-6 qualifier and event code, 7 group, 8-9 zone or user.
constexpr int kEventDataLength = 10;
constexpr int kMacReplyDataLength = VelmoraFrame::kMacSize;

QString hex(const quint8 *bytes, int length)
{
    return VelmoraFrame::toHexString(bytes, length);
}

// "%X%02X": the high byte without padding, so 10 07 gives four digits.
QString zoneText(quint8 high, quint8 low)
{
    return QString::number(high, 16).toUpper() + hex(&low, 1);
}

Kind kindOf(quint16 packetType)
{
    switch (packetType) {
    case SVelmoraFrameOutcome::kMacReplyType:
        return Kind::MacReply;
    case SVelmoraFrameOutcome::kAckType:
        return Kind::DeviceAck;
    case SVelmoraFrameOutcome::kNakType:
        return Kind::DeviceNak;
    case SVelmoraFrameOutcome::kPeriodicTestType:
        return Kind::PeriodicTest;
    default:
        return std::find(kAlarmTypes.cbegin(), kAlarmTypes.cend(), packetType) != kAlarmTypes.cend()
            ? Kind::Alarm
            : Kind::OtherType;
    }
}

SVelmoraMsg testEvent(const SVelmoraClient &client, const QDateTime &receivedAt)
{
    return VelmoraPacketDecoder::deviceAccountEvent(hex(client.id.data(), VelmoraFrame::kIdSize),
                                                    QLatin1Char('1') + QLatin1String(SVelmoraMsg::kPeriodicTestCode),
                                                    receivedAt);
}

SVelmoraMsg alarmEvent(const quint8 *data)
{
    SVelmoraMsg event;
    event.messageType = hex(data + 1, 1);
    event.account = hex(data + 2, 3);
    event.event = hex(data + 5, 2);
    event.group = hex(data + 7, 1);
    event.zone = zoneText(data[8], data[9]);
    return event;
}

void acknowledgeEvent(SVelmoraFrameOutcome &outcome, const SVelmoraClient &client, SVelmoraMsg event,
                      const QDateTime &receivedAt)
{
    event.time = receivedAt.toString(QLatin1String(kTimePattern));
    // The serial side serves devices in turn and limits each one's backlog
    // by this.
    event.deviceId = hex(client.id.data(), VelmoraFrame::kIdSize);
    event.peerAddress = client.peerAddress;
    event.receivedAt = receivedAt;
    outcome.reply = VelmoraFrame::ack(client.id);
    outcome.hasEvent = true;
    outcome.event = event;
}

SVelmoraFrameOutcome notAFrame(const QByteArray &bytes)
{
    SVelmoraFrameOutcome outcome;
    outcome.bytes = bytes;
    return outcome;
}

} // namespace

QVector<SVelmoraFrameOutcome> VelmoraPacketDecoder::decodeRead(SVelmoraClient &client,
                                                               const char *bytes, int length,
                                                               const QDateTime &receivedAt)
{
    QVector<SVelmoraFrameOutcome> outcomes;
    client.receiveBuffer.append(bytes, length);
    for (;;) {
        const VelmoraReceiveBuffer::Piece piece = client.receiveBuffer.takeNext();
        switch (piece.kind) {
        case VelmoraReceiveBuffer::PieceKind::Incomplete:
            return outcomes;
        case VelmoraReceiveBuffer::PieceKind::Unknown:
            outcomes << notAFrame(piece.bytes);
            break;
        case VelmoraReceiveBuffer::PieceKind::Frame:
            outcomes << decodeFrame(client, piece.bytes, receivedAt);
            break;
        }
    }
}

SVelmoraMsg VelmoraPacketDecoder::deviceAccountEvent(const QString &deviceId, const QString &eventCode,
                                                     const QDateTime &at)
{
    SVelmoraMsg event;
    event.account = deviceId;
    event.event = eventCode;
    event.group = QStringLiteral("00");
    event.zone = QStringLiteral("000");
    event.messageType = QStringLiteral("18");
    event.time = at.toString(QLatin1String(kTimePattern));
    event.deviceId = deviceId;
    event.receivedAt = at;
    return event;
}

SVelmoraFrameOutcome VelmoraPacketDecoder::decodeFrame(SVelmoraClient &client, const QByteArray &frame,
                                                       const QDateTime &receivedAt)
{
    const auto *p = reinterpret_cast<const quint8 *>(frame.constData());
    const int size = frame.size();
    if (size < VelmoraFrame::kPayloadOffset)
        return notAFrame(frame);
    const int length = VelmoraFrame::payloadLength(p);
    if (!VelmoraFrame::isPayloadLengthValid(length) || size != VelmoraFrame::frameSize(length))
        return notAFrame(frame);

    // The checksum covers the two length bytes and the plain payload up to
    // the checksum byte itself; an encrypted frame encrypts the checksum too.
    const quint8 lengthHigh = p[VelmoraFrame::kLengthOffset];
    const quint8 lengthLow = p[VelmoraFrame::kLengthOffset + 1];
    std::array<quint8, VelmoraFrame::kMaxPayloadLength> payload{};
    const quint8 *received = p + VelmoraFrame::kPayloadOffset;
    quint8 expected = 0;
    if (p[VelmoraFrame::kFlagOffset] == VelmoraFrame::kEncryptedFlag) {
        VelmoraFrame::xorDecrypt(received, length, client.mac.data(), VelmoraFrame::kMacSize, payload.data());
        expected = static_cast<quint8>(lengthHigh + lengthLow + VelmoraFrame::calcCrc(payload.data(), length - 1));
    } else {
        std::copy(received, received + length, payload.begin());
        expected = VelmoraFrame::calcCrc(p + VelmoraFrame::kLengthOffset, length + 1);
    }

    SVelmoraFrameOutcome outcome;
    std::copy_n(payload.begin() + VelmoraFrame::kIdOffset, VelmoraFrame::kIdSize, client.id.begin());
    outcome.deviceId = client.id;
    outcome.packetType = static_cast<quint16>((payload[VelmoraFrame::kTypeOffset] << 8)
                                              | payload[VelmoraFrame::kTypeOffset + 1]);
    outcome.kind = kindOf(outcome.packetType);
    const quint8 *data = payload.data() + VelmoraFrame::kDataOffset;
    const int dataLength = length - VelmoraFrame::kDataOffset - 1;
    outcome.checksumCalculated = expected;
    outcome.checksumInFrame = payload[length - 1];
    outcome.checksumMismatch = outcome.checksumInFrame != expected;

    // Devices are known to garble the tail, so one good byte of the three is enough.
    const quint8 *tail = received + length;
    if (tail[0] != VelmoraFrame::kTail[0] && tail[1] != VelmoraFrame::kTail[1]
        && tail[2] != VelmoraFrame::kTail[2]) {
        outcome.problem = Problem::BadTail;
        outcome.mac = client.mac;
        return outcome;
    }

    const int dataNeeded = outcome.kind == Kind::MacReply ? kMacReplyDataLength
        : outcome.kind == Kind::Alarm                     ? kEventDataLength
                                                          : 0;
    if (dataLength < dataNeeded) {
        outcome.problem = Problem::DataTooShort;
        outcome.bytes = frame;
        outcome.mac = client.mac;
        return outcome;
    }
    outcome.problem = Problem::None;

    switch (outcome.kind) {
    case Kind::MacReply:
        std::copy_n(data, VelmoraFrame::kMacSize, client.mac.begin());
        client.macKnown = true;
        outcome.reply = VelmoraFrame::ack(client.id);
        break;
    case Kind::PeriodicTest:
        acknowledgeEvent(outcome, client, testEvent(client, receivedAt), receivedAt);
        break;
    case Kind::Alarm:
        acknowledgeEvent(outcome, client, alarmEvent(data), receivedAt);
        break;
    case Kind::DeviceAck:
    case Kind::DeviceNak:
    case Kind::OtherType:
    case Kind::NotAFrame:
        break;
    }
    outcome.mac = client.mac;
    outcome.macKnown = client.macKnown;
    return outcome;
}
