#include "velmorareceiverreport.h"

#include "svelmoraframeoutcome.h"
#include "velmoraframe.h"
#include "velmoralog.h"


namespace {

using Screen = SVelmoraLogLine::Screen;
using Kind = SVelmoraFrameOutcome::Kind;
using Problem = SVelmoraFrameOutcome::Problem;

const char kListening[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Server start listening %2:%3.");
const char kUnableToListen[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Unable to listen %2:%3.");
const char kAccepted[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Connection accepted from %2:%3 Count: (%4)");
const char kCannotSendMacRequest[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Can not send mac request to %2:%3.");
const char kNoiseLeftOut[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] %2:%3 sent %4 more read(s), %5 bytes, that held no frame; they were not logged one by one.");
const char kDisconnected[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Client disconnected %2:%3 Count: (%4)");
const char kClosing[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Closing tcp sockets Count (%2).");
const char kStopped[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Server stopped successfully.");
const char kRefusing[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Can not accept connections on %2:%3 (%4), new devices wait Count: (%5)");
const char kAcceptingAgain[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Accepting connections on %2:%3 again Count: (%4)");
const char kHalfFrameExpired[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Incomplete packet from %2:%3 dropped after %4 s (%5).");
const char kNotJournaled[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer",
    "[%1] Can not journal %4 event(s) from %2:%3, no ACK sent, the device will repeat them: %5.");

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

QString tag()
{
    return QString::fromLatin1(VelmoraReceiverReport::kTag);
}

QString hex(const quint8 *bytes, int length)
{
    return VelmoraFrame::toHexString(bytes, length);
}

QString hex(const QByteArray &bytes)
{
    return hex(reinterpret_cast<const quint8 *>(bytes.constData()), bytes.size());
}

} // namespace

SVelmoraLogLine VelmoraReceiverReport::make(const char *screenTemplate, Screen screen, const char *fileTemplate,
                                            int fileLevel, const QStringList &args)
{
    return SVelmoraLogLine::make("VelmoraNetworkServer", screenTemplate, screen, fileTemplate, fileLevel, args);
}

SVelmoraLogLine VelmoraReceiverReport::tagged(const char *text, int fileLevel, QStringList args)
{
    args.prepend(QString::fromLatin1(kTag));
    return make(text, Screen::Translated, text, fileLevel, args);
}

QVector<SVelmoraLogLine> VelmoraReceiverReport::frameLines(const SVelmoraFrameOutcome &outcome,
                                                           const QString &peerAddress, quint16 peerPort)
{
    QVector<SVelmoraLogLine> lines;
    const QStringList peer = {tag(), peerAddress, QString::number(peerPort)};
    if (outcome.problem == Problem::NotAFrame) {
        lines << VelmoraReceiverReport::make(kUnknownPacket, Screen::Translated, kUnknownPacket, kLogError,
                                       QStringList(peer) << hex(outcome.bytes));
        return lines;
    }
    if (outcome.checksumMismatch) {
        const QStringList args = QStringList(peer) << QString::number(outcome.checksumCalculated)
                                                   << QString::number(outcome.checksumInFrame);
        lines << VelmoraReceiverReport::make(kCrcBadScreen, Screen::Translated, kCrcBadFile, kLogError, args);
    }
    if (outcome.problem == Problem::BadTail) {
        lines << VelmoraReceiverReport::make(kTailBad, Screen::Translated, kTailBad, kLogError, peer);
        return lines;
    }
    if (outcome.problem == Problem::DataTooShort) {
        lines << VelmoraReceiverReport::make(kUnknownPacket, Screen::Translated, kUnknownPacket, kLogError,
                                       QStringList(peer) << hex(outcome.bytes));
        return lines;
    }

    const QStringList device = QStringList(peer) << hex(outcome.mac.data(), VelmoraFrame::kMacSize)
                                                 << hex(outcome.deviceId.data(), VelmoraFrame::kIdSize);
    switch (outcome.kind) {
    case Kind::MacReply:
        lines << VelmoraReceiverReport::make(kMacLine, Screen::Translated, kMacLine, kLogError, device);
        break;
    case Kind::DeviceAck:
        lines << VelmoraReceiverReport::make(kAckFrom, Screen::Translated, kAckFrom, kLogError, device);
        break;
    case Kind::DeviceNak:
        lines << VelmoraReceiverReport::make(kNakFrom, Screen::Translated, kNakFrom, kLogError, device);
        break;
    case Kind::PeriodicTest:
    case Kind::Alarm: {
        // NETMSG on the screen (the alarm's template untranslated), "ACK
        // from" in the file. Made from the event's fields even when the
        // event was held back, as the frame was read all the same.
        const SVelmoraMsg &event = outcome.event;
        const QStringList netMsg = {tag(), event.account, event.messageType, event.event,
                                    event.group, event.zone, event.time};
        const Screen screen = outcome.kind == Kind::PeriodicTest ? Screen::Translated : Screen::Untranslated;
        lines << VelmoraReceiverReport::make(kNetMsg, screen, nullptr, 0, netMsg)
              << VelmoraReceiverReport::make(nullptr, Screen::Hidden, kAckFrom, kLogError, device);
        break;
    }
    case Kind::OtherType:
    case Kind::NotAFrame:
        break;
    }
    return lines;
}

QString VelmoraReceiverReport::receivedPacket(const QString &peerAddress, quint16 peerPort, const char *bytes,
                                              int length)
{
    // "[%1] Received packet from %2:%3 : %4.", built straight from its
    // parts: every read of every device has this line.
    const QString hexText = hex(reinterpret_cast<const quint8 *>(bytes), length);
    const QString portText = QString::number(peerPort);
    QString line;
    line.reserve(48 + peerAddress.size() + hexText.size());
    line += QLatin1Char('[');
    line += QLatin1String(VelmoraReceiverReport::kTag);
    line += QLatin1String("] Received packet from ");
    line += peerAddress;
    line += QLatin1Char(':');
    line += portText;
    line += QLatin1String(" : ");
    line += hexText;
    line += QLatin1Char('.');
    return line;
}

SVelmoraLogLine VelmoraReceiverReport::listening(const QString &address, int port)
{
    return VelmoraReceiverReport::tagged(kListening, kLogInfo, {address, QString::number(port)});
}

SVelmoraLogLine VelmoraReceiverReport::unableToListen(const QString &address, int port)
{
    return VelmoraReceiverReport::tagged(kUnableToListen, kLogError, {address, QString::number(port)});
}

SVelmoraLogLine VelmoraReceiverReport::refusing(const QString &address, int port, const QString &reason, int count)
{
    return VelmoraReceiverReport::tagged(kRefusing, kLogError,
                                   {address, QString::number(port), reason, QString::number(count)});
}

SVelmoraLogLine VelmoraReceiverReport::acceptingAgain(const QString &address, int port, int count)
{
    return VelmoraReceiverReport::tagged(kAcceptingAgain, kLogInfo,
                                   {address, QString::number(port), QString::number(count)});
}

SVelmoraLogLine VelmoraReceiverReport::accepted(const QString &peerAddress, quint16 peerPort, int count)
{
    return VelmoraReceiverReport::tagged(kAccepted, kLogInfo,
                                   {peerAddress, QString::number(peerPort), QString::number(count)});
}

SVelmoraLogLine VelmoraReceiverReport::cannotSendMacRequest(const QString &peerAddress, quint16 peerPort)
{
    return VelmoraReceiverReport::tagged(kCannotSendMacRequest, kLogError, {peerAddress, QString::number(peerPort)});
}

SVelmoraLogLine VelmoraReceiverReport::disconnected(const QString &peerAddress, quint16 peerPort, int count)
{
    return VelmoraReceiverReport::tagged(kDisconnected, kLogInfo,
                                   {peerAddress, QString::number(peerPort), QString::number(count)});
}

SVelmoraLogLine VelmoraReceiverReport::noiseLeftOut(const QString &peerAddress, quint16 peerPort, int reads,
                                                    qint64 bytes)
{
    return VelmoraReceiverReport::tagged(kNoiseLeftOut, kLogError,
                                   {peerAddress, QString::number(peerPort), QString::number(reads),
                                    QString::number(bytes)});
}

SVelmoraLogLine VelmoraReceiverReport::closing(int count)
{
    return VelmoraReceiverReport::tagged(kClosing, kLogError, {QString::number(count)});
}

SVelmoraLogLine VelmoraReceiverReport::stopped()
{
    return VelmoraReceiverReport::tagged(kStopped, kLogError, {});
}

SVelmoraLogLine VelmoraReceiverReport::halfFrameExpired(const QString &peerAddress, quint16 peerPort,
                                                        int timeoutMs, const QByteArray &bytes)
{
    return VelmoraReceiverReport::tagged(kHalfFrameExpired, kLogError,
                                   {peerAddress, QString::number(peerPort), QString::number(timeoutMs / 1000.0),
                                    hex(bytes)});
}

SVelmoraLogLine VelmoraReceiverReport::notJournaled(const QString &peerAddress, quint16 peerPort, int count,
                                                    const QString &reason)
{
    return VelmoraReceiverReport::tagged(kNotJournaled, kLogError,
                                   {peerAddress, QString::number(peerPort), QString::number(count), reason});
}
