#include "velmorapacketdecoder.h"

#include "svelmoraclient.h"
#include "velmoraframe.h"
#include "velmoralog.h"
#include "velmorametrics.h"

#include <QDateTime>

#include <algorithm>
#include <array>

namespace {

using Screen = SVelmoraLogLine::Screen;

const char kTag[] = "net";
const char kTimePattern[] = "hh:mm:ss-dd/MM";

const char kUnknownPacket[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Unknown packet from %2:%3 (%4).");
const char kCrcBadFile[] = "[%1] CRC bad packet from %2:%3 (CrcCalc: %4 | CrcPack: %5).";
const char kCrcBadScreen[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] CRC bad packet from %2:%3 (CrcCalc: %4 | CrcPack: %05).");
const char kTailBad[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] TAIL bad packet from %2:%3.");
const char kMacLine[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] %2:%3 MAC: %4 ID: %5.");
const char kAckFrom[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] ACK from %2:%3 MAC: %4 ID: %5.");
const char kNakFrom[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] NAK from %2:%3 MAC: %4 ID: %5.");
const char kNetMsg[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] NETMSG: %2%3%4%5%6%7");

const QString kTypeMacReply = QStringLiteral("0090");
const QString kTypeAck = QStringLiteral("0001");
const QString kTypeNak = QStringLiteral("0002");
const QString kTypeTest = QStringLiteral("0003");
const QStringList kEventTypes = {
    QStringLiteral("0004"), QStringLiteral("0005"), QStringLiteral("0006"),
    QStringLiteral("0007"), QStringLiteral("0008"), QStringLiteral("0009"),
    QStringLiteral("0010"), QStringLiteral("0016"), QStringLiteral("0017"),
};

// Data part of an event frame: byte 0 unused, 1 message type, 2-4 account,
// 5-6 qualifier and event code, 7 group, 8-9 zone or user.
constexpr int kEventDataLength = 10;
constexpr int kMacReplyDataLength = VelmoraFrame::kMacSize;

QStringList peerArgs(const SVelmoraClient &client)
{
    return {QString::fromLatin1(kTag), client.peerAddress, QString::number(client.peerPort)};
}

QString hex(const quint8 *bytes, int length)
{
    return VelmoraFrame::toHexString(bytes, length);
}

// "%X%02X": the high byte without padding, so 10 07 gives four digits.
QString zoneText(quint8 high, quint8 low)
{
    return QString::number(high, 16).toUpper() + hex(&low, 1);
}

SVelmoraMsg testEvent(const SVelmoraClient &client, const QDateTime &receivedAt)
{
    SVelmoraMsg event;
    event.account = hex(client.id.data(), VelmoraFrame::kIdSize);
    event.event = QLatin1Char('1') + QLatin1String(SVelmoraMsg::kPeriodicTestCode);
    event.group = QStringLiteral("00");
    event.zone = QStringLiteral("000");
    event.messageType = QStringLiteral("18");
    event.time = receivedAt.toString(QLatin1String(kTimePattern));
    return event;
}

SVelmoraMsg alarmEvent(const quint8 *data, const QDateTime &receivedAt)
{
    SVelmoraMsg event;
    event.messageType = hex(data + 1, 1);
    event.account = hex(data + 2, 3);
    event.event = hex(data + 5, 2);
    event.group = hex(data + 7, 1);
    event.zone = zoneText(data[8], data[9]);
    event.time = receivedAt.toString(QLatin1String(kTimePattern));
    return event;
}

// NETMSG on the screen, "ACK from" in the file, then the ACK and the event.
void acknowledgeEvent(SVelmoraFrameOutcome &outcome, const SVelmoraClient &client, SVelmoraMsg event,
                      const QDateTime &receivedAt, Screen netMsgScreen, const QStringList &deviceArgs)
{
    // The serial side serves devices in turn and limits each one's backlog
    // by this.
    event.deviceId = hex(client.id.data(), VelmoraFrame::kIdSize);
    event.peerAddress = client.peerAddress;
    event.receivedAt = receivedAt;
    const QStringList netMsgArgs = {QString::fromLatin1(kTag), event.account, event.messageType,
                                    event.event, event.group, event.zone, event.time};
    outcome.logLines << SVelmoraLogLine::make(kNetMsg, netMsgScreen, nullptr, 0, netMsgArgs)
                     << SVelmoraLogLine::make(nullptr, Screen::Hidden, kAckFrom, kLogError, deviceArgs);
    outcome.reply = VelmoraFrame::ack(client.id);
    outcome.hasEvent = true;
    outcome.event = event;
    outcome.result = 1;
}

void rejectAsUnknown(SVelmoraFrameOutcome &outcome, const SVelmoraClient &client,
                     const QByteArray &frame)
{
    const SVelmoraFrameOutcome unknown = VelmoraPacketDecoder::unknownPacket(client, frame);
    outcome.logLines << unknown.logLines;
    outcome.result = -1;
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
            outcomes << unknownPacket(client, piece.bytes);
            break;
        case VelmoraReceiveBuffer::PieceKind::Frame:
            outcomes << decodeFrame(client, piece.bytes, receivedAt);
            break;
        }
    }
}

SVelmoraFrameOutcome VelmoraPacketDecoder::decodeFrame(SVelmoraClient &client, const QByteArray &frame,
                                                       const QDateTime &receivedAt)
{
    SVelmoraFrameOutcome outcome;
    const auto *p = reinterpret_cast<const quint8 *>(frame.constData());
    const int size = frame.size();
    if (size < VelmoraFrame::kPayloadOffset) {
        rejectAsUnknown(outcome, client, frame);
        return outcome;
    }
    const quint8 lengthHigh = p[VelmoraFrame::kLengthOffset];
    const quint8 lengthLow = p[VelmoraFrame::kLengthOffset + 1];
    const int length = (lengthHigh << 8) | lengthLow;
    if (length < VelmoraFrame::kMinPayloadLength || length > VelmoraFrame::kMaxPayloadLength
        || size != length + VelmoraFrame::kOverhead) {
        rejectAsUnknown(outcome, client, frame);
        return outcome;
    }

    // The checksum covers the two length bytes and the plain payload up to
    // the checksum byte itself; an encrypted frame encrypts the checksum too.
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

    std::copy_n(payload.begin() + VelmoraFrame::kIdOffset, VelmoraFrame::kIdSize, client.id.begin());
    const QString type = hex(payload.data() + VelmoraFrame::kTypeOffset, 2);
    const quint8 *data = payload.data() + VelmoraFrame::kDataOffset;
    const int dataLength = length - VelmoraFrame::kDataOffset - 1;
    const quint8 checksum = payload[length - 1];

    const QStringList args = peerArgs(client);
    if (checksum != expected) {
        const QStringList crcArgs = QStringList(args) << QString::number(expected) << QString::number(checksum);
        outcome.logLines << SVelmoraLogLine::make(kCrcBadScreen, Screen::Translated, kCrcBadFile, kLogError, crcArgs);
    }

    // Devices are known to garble the tail, so one good byte of the three is enough.
    const quint8 *tail = received + length;
    if (tail[0] != VelmoraFrame::kTail[0] && tail[1] != VelmoraFrame::kTail[1]
        && tail[2] != VelmoraFrame::kTail[2]) {
        outcome.logLines << SVelmoraLogLine::make(kTailBad, Screen::Translated, kTailBad, kLogError, args);
        VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::BadTail);
        return outcome;
    }

    const bool macReply = type == kTypeMacReply;
    if (macReply && dataLength >= kMacReplyDataLength) {
        std::copy_n(data, VelmoraFrame::kMacSize, client.mac.begin());
        client.macKnown = true;
    }
    const QStringList deviceArgs = QStringList(args)
        << hex(client.mac.data(), VelmoraFrame::kMacSize) << hex(client.id.data(), VelmoraFrame::kIdSize);

    if (macReply) {
        if (dataLength < kMacReplyDataLength) {
            rejectAsUnknown(outcome, client, frame);
            return outcome;
        }
        outcome.logLines << SVelmoraLogLine::make(kMacLine, Screen::Translated, kMacLine, kLogError, deviceArgs);
        outcome.reply = VelmoraFrame::ack(client.id);
        outcome.result = 1;
    } else if (type == kTypeAck) {
        outcome.logLines << SVelmoraLogLine::make(kAckFrom, Screen::Translated, kAckFrom, kLogError, deviceArgs);
        outcome.result = 1;
    } else if (type == kTypeNak) {
        outcome.logLines << SVelmoraLogLine::make(kNakFrom, Screen::Translated, kNakFrom, kLogError, deviceArgs);
        outcome.result = 1;
    } else if (type == kTypeTest) {
        acknowledgeEvent(outcome, client, testEvent(client, receivedAt), receivedAt, Screen::Translated, deviceArgs);
    } else if (kEventTypes.contains(type)) {
        if (dataLength < kEventDataLength) {
            rejectAsUnknown(outcome, client, frame);
            return outcome;
        }
        acknowledgeEvent(outcome, client, alarmEvent(data, receivedAt), receivedAt, Screen::Untranslated, deviceArgs);
    } else {
        VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::UnknownType);
    }
    return outcome;
}

SVelmoraFrameOutcome VelmoraPacketDecoder::unknownPacket(const SVelmoraClient &client, const QByteArray &bytes)
{
    SVelmoraFrameOutcome outcome;
    const QStringList args = peerArgs(client)
        << hex(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
    outcome.logLines << SVelmoraLogLine::make(kUnknownPacket, Screen::Translated, kUnknownPacket, kLogError, args);
    VelmoraMetrics::instance().refuseFrame(VelmoraMetrics::FrameRefusal::Malformed);
    return outcome;
}
