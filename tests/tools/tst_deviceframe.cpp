#include "deviceframe.h"
#include "framereader.h"

#include <QtTest>

namespace {

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}

const DeviceFrame::DeviceId kId123456 = {0x12, 0x34, 0x56};
const DeviceFrame::Mac kMac = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};

// The converter's published example: a plain alarm from device 12 34 56 with
// account 001234, message type 18, event 1130, group 01, zone 005.
const char kWorkedExample[] = "4DD400001A 0000000001011234560000000000 04 0018001234113001 0005 61 4C0D0A";

} // namespace

class TestDeviceFrame : public QObject
{
    Q_OBJECT

private slots:
    void fixedFrames_data();
    void fixedFrames();
    void eventFrames_data();
    void eventFrames();
    void encryptedFrameDecryptsToPlainOne();
    void reader_data();
    void reader();
};

void TestDeviceFrame::fixedFrames_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("MAC request") << DeviceFrame::macRequest()
                                 << bytes("4DD4000010000000000101FFFFFF0000000000 99 A8 4C0D0A");
    QTest::newRow("ACK for 12 34 56") << DeviceFrame::ack(kId123456)
                                      << bytes("4DD4000010000080000101123456000000000001 2F 4C0D0A");
    // C = (0x93 + FF + FF + FF) mod 256 = 0x90: the sum wraps.
    QTest::newRow("ACK whose checksum wraps") << DeviceFrame::ack({0xFF, 0xFF, 0xFF})
                                              << bytes("4DD4000010000080000101FFFFFF000000000001 90 4C0D0A");
    QTest::newRow("ACK for 00 00 00") << DeviceFrame::ack({0, 0, 0})
                                      << bytes("4DD4000010000080000101000000000000000001 93 4C0D0A");
    // N = 24: fifteen header bytes, eight MAC bytes, the checksum
    // 18 + 01 + 01 + 12 + 34 + 56 + 90 + 11 + 22 + ... + 88 = 0xAA (mod 256).
    QTest::newRow("MAC reply") << DeviceFrame::macReply(kId123456, kMac)
                               << bytes("4DD4000018 00000000 0101 123456 00000000 0090 1122334455667788 AA 4C0D0A");
}

void TestDeviceFrame::fixedFrames()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void TestDeviceFrame::eventFrames_data()
{
    QTest::addColumn<quint16>("packetType");
    QTest::addColumn<quint32>("account");
    QTest::addColumn<quint16>("event");
    QTest::addColumn<quint8>("group");
    QTest::addColumn<quint16>("zone");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("worked example") << quint16(0x0004) << quint32(0x001234) << quint16(0x1130) << quint8(0x01)
                                    << quint16(0x005) << bytes(kWorkedExample);
    // Same frame with account AB CD EF, zone 12 34 and type 0017: every byte
    // of the data part lands where the converter reads it. Checksum
    // 0x61 - 0x0004 + 0x0017 - (00+12+34) + (AB+CD+EF) - 0x0005 + (12+34) = 0xD6
    // (mod 256).
    QTest::newRow("every data byte set") << quint16(0x0017) << quint32(0xABCDEF) << quint16(0x1130) << quint8(0x01)
                                         << quint16(0x1234)
                                         << bytes("4DD400001A 0000000001011234560000000000 17 0018ABCDEF113001 1234 D6 "
                                                  "4C0D0A");
    QTest::newRow("periodic test") << quint16(0x0003) << quint32(0x001234) << quint16(0x1130) << quint8(0x01)
                                   << quint16(0x005)
                                   << bytes("4DD400001A 0000000001011234560000000000 03 0018001234113001 0005 60 "
                                            "4C0D0A");
}

void TestDeviceFrame::eventFrames()
{
    QFETCH(quint16, packetType);
    QFETCH(quint32, account);
    QFETCH(quint16, event);
    QFETCH(quint8, group);
    QFETCH(quint16, zone);
    QFETCH(QByteArray, expected);
    DeviceEvent fields;
    fields.account = account;
    fields.event = event;
    fields.group = group;
    fields.zone = zone;
    fields.messageType = 0x18;
    QCOMPARE(DeviceFrame::eventFrame(packetType, kId123456, fields, nullptr).toHex(' '), expected.toHex(' '));
}

void TestDeviceFrame::encryptedFrameDecryptsToPlainOne()
{
    const QByteArray plain = bytes(kWorkedExample);
    const QByteArray encrypted = DeviceFrame::eventFrame(DeviceFrame::kAlarmType, kId123456, DeviceEvent(), &kMac);
    QCOMPARE(encrypted.size(), plain.size());
    QCOMPARE(quint8(encrypted[2]), quint8(0x01));
    QCOMPARE(encrypted.left(2), plain.left(2));
    QCOMPARE(encrypted.mid(3, 2), plain.mid(3, 2));
    QCOMPARE(encrypted.right(3), plain.right(3));
    // The key restarts at the first payload byte, and the checksum byte is
    // encrypted with the rest: payload byte 25 is XORed with key byte 25 % 8.
    const QByteArray payload = encrypted.mid(5, 26);
    QCOMPARE(quint8(payload[0]), quint8(0x00 ^ 0x11));
    QCOMPARE(quint8(payload[25]), quint8(0x61 ^ kMac[1]));
    QCOMPARE(DeviceFrame::xorWithKey(payload, kMac), plain.mid(5, 26));
}

void TestDeviceFrame::reader_data()
{
    const QByteArray ack = DeviceFrame::ack(kId123456);
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<int>("left");
    QTest::addColumn<bool>("garbage");
    QTest::newRow("one frame") << QList<QByteArray>{ack} << QList<QByteArray>{ack} << 0 << false;
    QTest::newRow("split inside the length field")
        << QList<QByteArray>{ack.left(4), ack.mid(4)} << QList<QByteArray>{ack} << 0 << false;
    QTest::newRow("split before the tail")
        << QList<QByteArray>{ack.left(22), ack.mid(22)} << QList<QByteArray>{ack} << 0 << false;
    QTest::newRow("two frames in one read") << QList<QByteArray>{ack + DeviceFrame::macRequest()}
                                            << QList<QByteArray>{ack, DeviceFrame::macRequest()} << 0 << false;
    QTest::newRow("frame and a piece of the next")
        << QList<QByteArray>{ack + ack.left(7)} << QList<QByteArray>{ack} << 7 << false;
    QTest::newRow("first marker only so far") << QList<QByteArray>{ack.left(1)} << QList<QByteArray>{} << 1 << false;
    QTest::newRow("wrong second marker") << QList<QByteArray>{bytes("4D00")} << QList<QByteArray>{} << 0 << true;
    QTest::newRow("text instead of a frame")
        << QList<QByteArray>{QByteArray("HTTP/1.1 400")} << QList<QByteArray>{} << 0 << true;
}

void TestDeviceFrame::reader()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, frames);
    QFETCH(int, left);
    QFETCH(bool, garbage);
    FrameReader reader;
    QList<QByteArray> taken;
    bool sawGarbage = false;
    for (const QByteArray &chunk : chunks) {
        reader.append(chunk);
        QByteArray frame;
        for (;;) {
            const FrameReader::Result result = reader.take(&frame);
            if (result == FrameReader::Result::NeedMore)
                break;
            if (result == FrameReader::Result::NotAFrame)
                sawGarbage = true;
            else
                taken.append(frame);
        }
    }
    QCOMPARE(taken, frames);
    QCOMPARE(reader.buffered(), left);
    QCOMPARE(sawGarbage, garbage);
}

QTEST_GUILESS_MAIN(TestDeviceFrame)
#include "tst_deviceframe.moc"
