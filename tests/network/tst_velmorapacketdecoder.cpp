#include "svelmoraclient.h"
#include "velmoraframe.h"
#include "velmorapacketdecoder.h"
#include "velmorareceiverreport.h"

#include "networktesthelpers.h"
#include "testframes.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QtTest>

namespace {

const QString kPeer = QStringLiteral("10.0.0.7:4000");
const QDateTime kReceivedAt(QDate(2024, 3, 5), QTime(7, 8, 9));
const QString kTime = QStringLiteral("07:08:09-05/03");

// The worked example of a plain event frame from the device documentation:
// type 0004, ID 12 34 56, checksum 61.
const QByteArray kWorkedExample = QByteArray::fromHex(
    "4DD400001A0000000001011234560000000000040018001234113001000561" "4C0D0A");
const QByteArray kAckFor123456 = QByteArray::fromHex("4DD40000100000800001011234560000000000012F4C0D0A");
const QString kAckFromLine =
    QStringLiteral("[net] ACK from 10.0.0.7:4000 MAC: 0000000000000000 ID: 123456.");
const QString kWorkedNetMsg = QStringLiteral("[net] NETMSG: 00123418113001005") + kTime;

SVelmoraClient newClient()
{
    SVelmoraClient client;
    client.peerAddress = QStringLiteral("10.0.0.7");
    client.peerPort = 4000;
    return client;
}

QByteArray withByte(QByteArray bytes, int position, quint8 value)
{
    bytes[position] = static_cast<char>(value);
    return bytes;
}

QByteArray withTail(QByteArray bytes, const char *tailHex)
{
    bytes.chop(3);
    return bytes + QByteArray::fromHex(tailHex);
}

// One frame of arbitrary length N, as far as the length field goes.
QByteArray withLength(int length)
{
    QByteArray bytes = QByteArray::fromHex("4DD400");
    bytes.append(static_cast<char>(length >> 8)).append(static_cast<char>(length & 0xFF));
    return bytes + QByteArray(qMax(length, 0), '\0') + QByteArray::fromHex("4C0D0A");
}

QString unknownLine(const QByteArray &bytes)
{
    return QStringLiteral("[net] Unknown packet from 10.0.0.7:4000 (%1).")
        .arg(QString::fromLatin1(bytes.toHex().toUpper()));
}

// The log lines of the outcomes, as the server makes them.
QVector<SVelmoraLogLine> logLines(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    QVector<SVelmoraLogLine> lines;
    for (const SVelmoraFrameOutcome &outcome : outcomes)
        lines += VelmoraReceiverReport::frameLines(outcome, QStringLiteral("10.0.0.7"), 4000);
    return lines;
}

QStringList screenLines(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    QStringList lines;
    for (const SVelmoraLogLine &line : logLines(outcomes)) {
        if (!line.screenText.isEmpty())
            lines << line.screenText;
    }
    return lines;
}

QStringList fileLines(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    QStringList lines;
    for (const SVelmoraLogLine &line : logLines(outcomes)) {
        if (!line.fileText.isEmpty())
            lines << QStringLiteral("%1 %2").arg(line.fileLevel).arg(line.fileText);
    }
    return lines;
}

QString hexOf(const quint8 *bytes, int length)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), length).toHex().toUpper());
}

// Each outcome as "kind type [problem] [checksum calculated != received]",
// e.g. "alarm 0004 checksum 97 != 98"; a MAC reply adds the key it brought,
// an outcome with bytes to report their count.
QStringList facts(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    using Kind = SVelmoraFrameOutcome::Kind;
    using Problem = SVelmoraFrameOutcome::Problem;
    static const QMap<Kind, QString> kinds = {
        {Kind::NotAFrame, "not-a-frame"}, {Kind::MacReply, "mac-reply"}, {Kind::DeviceAck, "ack"},
        {Kind::DeviceNak, "nak"},         {Kind::PeriodicTest, "test"},  {Kind::Alarm, "alarm"},
        {Kind::OtherType, "other"}};
    static const QMap<Problem, QString> problems = {
        {Problem::None, QString()}, {Problem::NotAFrame, QString()}, {Problem::BadTail, " bad-tail"},
        {Problem::DataTooShort, " too-short"}};
    QStringList texts;
    for (const SVelmoraFrameOutcome &outcome : outcomes) {
        QString text = kinds.value(outcome.kind);
        if (outcome.kind != Kind::NotAFrame)
            text += QStringLiteral(" %1").arg(outcome.packetType, 4, 16, QLatin1Char('0')).toUpper();
        text += problems.value(outcome.problem);
        if (outcome.checksumMismatch)
            text += QStringLiteral(" checksum %1 != %2").arg(outcome.checksumCalculated).arg(outcome.checksumInFrame);
        if (outcome.kind == Kind::MacReply && outcome.problem == Problem::None)
            text += QStringLiteral(" key ") + hexOf(outcome.mac.data(), int(outcome.mac.size()));
        if (!outcome.bytes.isEmpty())
            text += QStringLiteral(" %1 bytes").arg(outcome.bytes.size());
        texts << text;
    }
    return texts;
}

QByteArray replies(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    QByteArray bytes;
    for (const SVelmoraFrameOutcome &outcome : outcomes)
        bytes += outcome.reply;
    return bytes;
}

// Events as "account messageType event group zone time", one per event.
QStringList events(const QVector<SVelmoraFrameOutcome> &outcomes)
{
    QStringList texts;
    for (const SVelmoraFrameOutcome &outcome : outcomes) {
        if (outcome.hasEvent) {
            const SVelmoraMsg &e = outcome.event;
            texts << QStringList{e.account, e.messageType, e.event, e.group, e.zone, e.time}.join(' ');
        }
    }
    return texts;
}

QVector<SVelmoraFrameOutcome> decode(SVelmoraClient &client, const QByteArray &read)
{
    return VelmoraPacketDecoder::decodeRead(client, read.constData(), read.size(), kReceivedAt);
}

} // namespace

class TestVelmoraPacketDecoder : public QObject
{
    Q_OBJECT

private slots:
    void oneRead_data();
    void oneRead();
    void encryptedFrameAfterMacReply();
    void splitAtEveryPosition();
    void streams_data();
    void streams();
    void floodInOneReadIsDecodedInOnePass();
    void onlyTheScreenCopyIsTranslated_data();
    void onlyTheScreenCopyIsTranslated();
};

void TestVelmoraPacketDecoder::oneRead_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QStringList>("facts");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QByteArray>("idAfter");

    const QByteArray id123456 = QByteArray::fromHex("123456");
    const QStringList workedEvent = {QStringLiteral("001234 18 1130 01 005 ") + kTime};
    const QStringList alarm0004 = {QStringLiteral("alarm 0004")};
    const QStringList none;

    QTest::newRow("worked example: event fields and ACK")
        << kWorkedExample << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("encrypted before any MAC reply decrypts with the zero key")
        << withByte(kWorkedExample, 2, 1) << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("flag other than 1 means plain")
        << withByte(kWorkedExample, 2, 7) << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("first marker alone is enough")
        << withByte(kWorkedExample, 1, 0) << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("second marker alone is enough")
        << withByte(kWorkedExample, 0, 0) << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("tail 4C 00 00 is good")
        << withTail(kWorkedExample, "4C0000") << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("tail 00 0D 00 is good")
        << withTail(kWorkedExample, "000D00") << alarm0004 << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("tail 00 00 0A is good")
        << withTail(kWorkedExample, "00000A") << alarm0004 << kAckFor123456 << workedEvent << id123456;

    QTest::newRow("wrong checksum is reported, answered and still an event")
        << withByte(kWorkedExample, 30, 0x62) << QStringList{QStringLiteral("alarm 0004 checksum 97 != 98")}
        << kAckFor123456 << workedEvent << id123456;
    QTest::newRow("bad tail: no reply, no event, ID still taken")
        << withTail(kWorkedExample, "000000") << QStringList{QStringLiteral("alarm 0004 bad-tail")} << QByteArray()
        << none << id123456;
    QTest::newRow("no marker byte is no frame")
        << withByte(withByte(kWorkedExample, 0, 0), 1, 0) << QStringList{QStringLiteral("not-a-frame 34 bytes")}
        << QByteArray() << none << QByteArray(3, '\0');

    QTest::newRow("type 000A is ignored")
        << TestFrames::event(id123456, 0x000A, QByteArray::fromHex("180012341130010005"))
        << QStringList{QStringLiteral("other 000A")} << QByteArray() << none << id123456;
    QTest::newRow("type 0011 is ignored")
        << TestFrames::event(id123456, 0x0011, QByteArray::fromHex("180012341130010005"))
        << QStringList{QStringLiteral("other 0011")} << QByteArray() << none << id123456;

    QTest::newRow("ACK from the device, shortest frame N = 16")
        << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0001, QByteArray())
        << QStringList{QStringLiteral("ack 0001")} << QByteArray() << none << QByteArray::fromHex("0A0B0C");
    QTest::newRow("NAK from the device")
        << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0002, QByteArray())
        << QStringList{QStringLiteral("nak 0002")} << QByteArray() << none << QByteArray::fromHex("0A0B0C");
    QTest::newRow("MAC reply brings the key and is answered")
        << TestFrames::frame(id123456, 0x0090, QByteArray::fromHex("0011223344556677"))
        << QStringList{QStringLiteral("mac-reply 0090 key 0011223344556677")} << kAckFor123456 << none << id123456;
    QTest::newRow("periodic test frame has fixed fields and the ID as account")
        << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray())
        << QStringList{QStringLiteral("test 0003")} << VelmoraFrame::ack({0x0A, 0x0B, 0x0C})
        << QStringList{QStringLiteral("0A0B0C 18 1602 00 000 ") + kTime} << QByteArray::fromHex("0A0B0C");

    struct Rendering {
        const char *name;
        quint16 type;
        const char *fields;
        const char *event;
    };
    const Rendering renderings[] = {
        {"zone 01 23 gives 123, type 0005", 0x0005, "18ABCDEF3401020123", "ABCDEF 18 3401 02 123"},
        {"zone 12 34 gives 1234, type 0009", 0x0009, "18ABCDEF3401021234", "ABCDEF 18 3401 02 1234"},
        {"zone 0A 07 gives A07, type 0010", 0x0010, "18ABCDEF340102" "0A07", "ABCDEF 18 3401 02 A07"},
        {"zone 10 07 gives 1007, type 0016", 0x0016, "18ABCDEF3401021007", "ABCDEF 18 3401 02 1007"},
        {"extra data bytes are not read, type 0017", 0x0017, "18ABCDEF3401020007FFFF", "ABCDEF 18 3401 02 007"},
    };
    for (const Rendering &r : renderings) {
        const QByteArray read = TestFrames::event(id123456, r.type, QByteArray::fromHex(r.fields));
        QTest::newRow(r.name) << read
                              << QStringList{QStringLiteral("alarm ") + QString::fromLatin1(r.name).right(4)}
                              << kAckFor123456 << QStringList{QString::fromLatin1(r.event) + ' ' + kTime} << id123456;
    }

    // Lengths that are no frame at all drop the buffer; frames too short for
    // their type are dropped the same way, after the ID has been taken.
    QTest::newRow("N = 15 is no frame") << withLength(15) << QStringList{QStringLiteral("not-a-frame 23 bytes")}
                                        << QByteArray() << none << QByteArray(3, '\0');
    QTest::newRow("N = 0 is no frame") << withLength(0) << QStringList{QStringLiteral("not-a-frame 8 bytes")}
                                       << QByteArray() << none << QByteArray(3, '\0');
    QTest::newRow("N = 257 is no frame") << withLength(257) << QStringList{QStringLiteral("not-a-frame 265 bytes")}
                                         << QByteArray() << none << QByteArray(3, '\0');
    QTest::newRow("N = 65535 is no frame") << withLength(65535).left(40)
                                           << QStringList{QStringLiteral("not-a-frame 40 bytes")} << QByteArray()
                                           << none << QByteArray(3, '\0');
    const QByteArray longest = TestFrames::event(id123456, 0x0004, QByteArray::fromHex("180012341130010005")
                                                                       + QByteArray(230, '\x5A'));
    QTest::newRow("N = 256 is the longest frame") << longest << alarm0004 << kAckFor123456 << workedEvent << id123456;
    const QByteArray shortEvent = TestFrames::event(id123456, 0x0004, QByteArray::fromHex("1800123411300100"));
    QTest::newRow("event with 9 data bytes is too short")
        << shortEvent << QStringList{QStringLiteral("alarm 0004 too-short %1 bytes").arg(shortEvent.size())}
        << QByteArray() << none << id123456;
    const QByteArray shortMac = TestFrames::frame(id123456, 0x0090, QByteArray::fromHex("00112233445566"));
    QTest::newRow("MAC reply with 7 data bytes is too short")
        << shortMac << QStringList{QStringLiteral("mac-reply 0090 too-short %1 bytes").arg(shortMac.size())}
        << QByteArray() << none << id123456;
    QTest::newRow("23 bytes wait for more") << kWorkedExample.left(23) << none << QByteArray() << none
                                            << QByteArray(3, '\0');
}

void TestVelmoraPacketDecoder::oneRead()
{
    QFETCH(QByteArray, read);
    QFETCH(QStringList, facts);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, events);
    QFETCH(QByteArray, idAfter);

    SVelmoraClient client = newClient();
    const QVector<SVelmoraFrameOutcome> outcomes = decode(client, read);

    QCOMPARE(::facts(outcomes), facts);
    QCOMPARE(replies(outcomes).toHex(' '), reply.toHex(' '));
    QCOMPARE(::events(outcomes), events);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(client.id.data()), 3).toHex(), idAfter.toHex());
}

void TestVelmoraPacketDecoder::encryptedFrameAfterMacReply()
{
    const QByteArray mac = QByteArray::fromHex("A1B2C3D4E5F60718");
    SVelmoraClient client = newClient();
    decode(client, TestFrames::frame(QByteArray::fromHex("123456"), 0x0090, mac));

    const QByteArray encrypted = TestFrames::frame(QByteArray::fromHex("654321"), 0x0004,
                                                   QByteArray::fromHex("0018001234113001000F"), true, mac);
    // Payload byte i is sent XORed with MAC byte i mod 8.
    QCOMPARE(static_cast<quint8>(encrypted[5 + 6]), quint8(0x65 ^ 0x07));

    const QVector<SVelmoraFrameOutcome> outcomes = decode(client, encrypted);
    QCOMPARE(::events(outcomes), QStringList{QStringLiteral("001234 18 1130 01 00F ") + kTime});
    QCOMPARE(replies(outcomes), VelmoraFrame::ack({0x65, 0x43, 0x21}));
    QCOMPARE(::facts(outcomes), QStringList{QStringLiteral("alarm 0004")});
    QCOMPARE(hexOf(outcomes.at(0).mac.data(), 8), QStringLiteral("A1B2C3D4E5F60718"));
    QCOMPARE(hexOf(outcomes.at(0).deviceId.data(), 3), QStringLiteral("654321"));
}

void TestVelmoraPacketDecoder::splitAtEveryPosition()
{
    const QByteArray stream = kWorkedExample + TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray());
    for (int first = 1; first < stream.size(); ++first) {
        for (int second = first; second < stream.size(); ++second) {
            SVelmoraClient client = newClient();
            QVector<SVelmoraFrameOutcome> outcomes = decode(client, stream.left(first));
            outcomes += decode(client, stream.mid(first, second - first));
            outcomes += decode(client, stream.mid(second));
            QCOMPARE(::events(outcomes).size(), 2);
            QCOMPARE(replies(outcomes), kAckFor123456 + VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
            QVERIFY(::facts(outcomes).filter(QStringLiteral("not-a-frame")).isEmpty());
            QCOMPARE(client.receiveBuffer.size(), 0);
        }
    }
}

void TestVelmoraPacketDecoder::streams_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<int>("expectedEvents");
    QTest::addColumn<int>("expectedUnknown");
    QTest::addColumn<int>("leftInBuffer");

    const QByteArray testFrame = TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray());
    const QByteArray garbage = QByteArray::fromHex("0102030405");

    QTest::newRow("two frames in one read") << QList<QByteArray>{kWorkedExample + testFrame} << 2 << 0 << 0;
    QTest::newRow("frame and the start of the next") << QList<QByteArray>{kWorkedExample + testFrame.left(10)}
                                                     << 1 << 0 << 10;
    QTest::newRow("garbage read, then a good frame") << QList<QByteArray>{garbage, kWorkedExample} << 1 << 1 << 0;
    QTest::newRow("lone byte waits for its partner") << QList<QByteArray>{QByteArray(1, '\0')} << 0 << 0 << 1;
    QTest::newRow("garbage in front drops the whole read") << QList<QByteArray>{garbage + kWorkedExample}
                                                           << 0 << 1 << 0;
    QTest::newRow("good frame, then garbage dropped") << QList<QByteArray>{kWorkedExample + garbage + testFrame}
                                                      << 1 << 1 << 0;
    QTest::newRow("absurd length after a marker, then a good frame")
        << QList<QByteArray>{QByteArray::fromHex("4DD400FFFF"), kWorkedExample} << 1 << 1 << 0;
    QTest::newRow("bad tail frame skipped, next one answered")
        << QList<QByteArray>{withTail(kWorkedExample, "000000") + testFrame} << 1 << 0 << 0;
}

void TestVelmoraPacketDecoder::streams()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(int, expectedEvents);
    QFETCH(int, expectedUnknown);
    QFETCH(int, leftInBuffer);

    SVelmoraClient client = newClient();
    QVector<SVelmoraFrameOutcome> outcomes;
    for (const QByteArray &read : reads)
        outcomes += decode(client, read);
    QCOMPARE(::events(outcomes).size(), expectedEvents);
    QCOMPARE(replies(outcomes).size(), 24 * expectedEvents);
    QCOMPARE(::facts(outcomes).filter(QStringLiteral("not-a-frame")).size(), expectedUnknown);
    QCOMPARE(client.receiveBuffer.size(), leftInBuffer);
}

void TestVelmoraPacketDecoder::floodInOneReadIsDecodedInOnePass()
{
    // A device that sends faster than the network thread reads (while it
    // waits for a MAC request to leave, say) hands over megabytes in one
    // read. Taking each frame off the front must not copy the rest of the
    // read each time: that stalls every device for minutes.
    const QByteArray ignored = TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x000A, QByteArray());
    const int frames = 16 * 1024 * 1024 / ignored.size();
    const QByteArray flood = ignored.repeated(frames) + kWorkedExample;

    SVelmoraClient client = newClient();
    QElapsedTimer timer;
    timer.start();
    const QVector<SVelmoraFrameOutcome> outcomes = decode(client, flood);
    QVERIFY2(timer.elapsed() < 30000, qPrintable(QStringLiteral("%1 ms").arg(timer.elapsed())));
    QCOMPARE(outcomes.size(), frames + 1);
    QCOMPARE(replies(outcomes), kAckFor123456);
    QCOMPARE(client.receiveBuffer.size(), 0);
}

void TestVelmoraPacketDecoder::onlyTheScreenCopyIsTranslated_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QStringList>("screen");
    QTest::addColumn<QStringList>("file");

    const QString peer = QStringLiteral("10.0.0.7:4000");
    const QString device = QStringLiteral(" MAC: 0000000000000000 ID: 0A0B0C.");
    const QByteArray noMarker = withByte(withByte(kWorkedExample, 0, 0), 1, 0);

    QTest::newRow("alarm event: NETMSG template untranslated")
        << kWorkedExample << QStringList{kWorkedNetMsg} << QStringList{QStringLiteral("1 ") + kAckFromLine};
    QTest::newRow("periodic test: NETMSG template translated")
        << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray())
        << QStringList{QStringLiteral("ru:[net] NETMSG: 0A0B0C18160200000") + kTime}
        << QStringList{QStringLiteral("1 [net] ACK from ") + peer + device};
    QTest::newRow("CRC bad: screen template with %05")
        << withByte(kWorkedExample, 30, 0x62)
        << QStringList{QStringLiteral("ru:[net] CRC bad packet from 10.0.0.7:4000 (CrcCalc: 97 | CrcPack: 98)."),
                       kWorkedNetMsg}
        << QStringList{QStringLiteral("1 [net] CRC bad packet from 10.0.0.7:4000 (CrcCalc: 97 | CrcPack: 98)."),
                       QStringLiteral("1 ") + kAckFromLine};
    QTest::newRow("TAIL bad") << withTail(kWorkedExample, "000000")
                              << QStringList{QStringLiteral("ru:[net] TAIL bad packet from 10.0.0.7:4000.")}
                              << QStringList{QStringLiteral("1 [net] TAIL bad packet from 10.0.0.7:4000.")};
    QTest::newRow("unknown packet") << noMarker << QStringList{QStringLiteral("ru:") + unknownLine(noMarker)}
                                    << QStringList{QStringLiteral("1 ") + unknownLine(noMarker)};
    const QByteArray shortEvent = TestFrames::event(QByteArray::fromHex("0A0B0C"), 0x0004,
                                                    QByteArray::fromHex("1800123411300100"));
    QTest::newRow("frame too short for its type: unknown packet")
        << shortEvent << QStringList{QStringLiteral("ru:") + unknownLine(shortEvent)}
        << QStringList{QStringLiteral("1 ") + unknownLine(shortEvent)};
    QTest::newRow("MAC reply")
        << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0090, QByteArray::fromHex("0011223344556677"))
        << QStringList{QStringLiteral("ru:[net] 10.0.0.7:4000 MAC: 0011223344556677 ID: 0A0B0C.")}
        << QStringList{QStringLiteral("1 [net] 10.0.0.7:4000 MAC: 0011223344556677 ID: 0A0B0C.")};
    QTest::newRow("ACK from the device") << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0001, QByteArray())
                                         << QStringList{QStringLiteral("ru:[net] ACK from ") + peer + device}
                                         << QStringList{QStringLiteral("1 [net] ACK from ") + peer + device};
    QTest::newRow("NAK from the device") << TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0002, QByteArray())
                                         << QStringList{QStringLiteral("ru:[net] NAK from ") + peer + device}
                                         << QStringList{QStringLiteral("1 [net] NAK from ") + peer + device};
}

void TestVelmoraPacketDecoder::onlyTheScreenCopyIsTranslated()
{
    QFETCH(QByteArray, read);
    QFETCH(QStringList, screen);
    QFETCH(QStringList, file);

    NetworkTest::InstalledTranslator russian;
    SVelmoraClient client = newClient();
    const QVector<SVelmoraFrameOutcome> outcomes = decode(client, read);
    QCOMPARE(screenLines(outcomes), screen);
    QCOMPARE(fileLines(outcomes), file);
}

QTEST_GUILESS_MAIN(TestVelmoraPacketDecoder)
#include "tst_velmorapacketdecoder.moc"
