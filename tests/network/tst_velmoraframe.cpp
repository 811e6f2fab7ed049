#include "svelmoralogline.h"
#include "velmoraframe.h"

#include <QtTest>

namespace {

const quint8 *bytesOf(const QByteArray &bytes)
{
    return reinterpret_cast<const quint8 *>(bytes.constData());
}

} // namespace

class TestVelmoraFrame : public QObject
{
    Q_OBJECT

private slots:
    void sentFrames_data();
    void sentFrames();
    void calcCrc_data();
    void calcCrc();
    void xorDecrypt_data();
    void xorDecrypt();
    void fill_data();
    void fill();
};

void TestVelmoraFrame::sentFrames_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    // Byte sequences as the device documentation gives them.
    QTest::newRow("MAC request")
        << VelmoraFrame::macRequest() << QByteArray::fromHex("4DD4000010000000000101FFFFFF0000000000 99A84C0D0A");
    QTest::newRow("ACK for ID 12 34 56")
        << VelmoraFrame::ack({0x12, 0x34, 0x56}) << QByteArray::fromHex("4DD4000010000080000101123456000000000001 2F4C0D0A");
    QTest::newRow("ACK for ID 00 00 00 has checksum 93")
        << VelmoraFrame::ack({0, 0, 0}) << QByteArray::fromHex("4DD4000010000080000101000000000000000001 934C0D0A");
    QTest::newRow("ACK checksum wraps for ID FF FF FF")
        << VelmoraFrame::ack({0xFF, 0xFF, 0xFF}) << QByteArray::fromHex("4DD4000010000080000101FFFFFF000000000001 904C0D0A");
}

void TestVelmoraFrame::sentFrames()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);
    QCOMPARE(frame.toHex(' '), expected.toHex(' '));
}

void TestVelmoraFrame::calcCrc_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("expected");

    QTest::newRow("nothing") << QByteArray() << 0 << 0;
    QTest::newRow("negative length") << QByteArray::fromHex("05") << -1 << 0;
    QTest::newRow("sum wraps at 256") << QByteArray::fromHex("FF0203") << 3 << 4;
    QTest::newRow("only the given length") << QByteArray::fromHex("0102FF") << 2 << 3;
}

void TestVelmoraFrame::calcCrc()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QFETCH(int, expected);
    QCOMPARE(int(VelmoraFrame::calcCrc(bytesOf(bytes), length)), expected);
}

void TestVelmoraFrame::xorDecrypt_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("key repeats every 8 bytes")
        << QByteArray::fromHex("00000000000000000000") << QByteArray::fromHex("0102030405060708")
        << QByteArray::fromHex("01020304050607080102");
    QTest::newRow("zero key leaves the bytes") << QByteArray::fromHex("4DD4AB") << QByteArray(8, '\0')
                                               << QByteArray::fromHex("4DD4AB");
    QTest::newRow("no key copies the bytes") << QByteArray::fromHex("4DD4AB") << QByteArray()
                                             << QByteArray::fromHex("4DD4AB");
}

void TestVelmoraFrame::xorDecrypt()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, expected);

    QByteArray destination(source.size(), '\x55');
    const int length = VelmoraFrame::xorDecrypt(bytesOf(source), source.size(), bytesOf(key), key.size(),
                                                reinterpret_cast<quint8 *>(destination.data()));
    QCOMPARE(length, source.size());
    QCOMPARE(destination.toHex(), expected.toHex());
    QCOMPARE(VelmoraFrame::toHexString(bytesOf(destination), destination.size()),
             QString::fromLatin1(expected.toHex().toUpper()));
}

void TestVelmoraFrame::fill_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("expected");

    QTest::newRow("two-digit marker %05 is argument 5")
        << QStringLiteral("(CrcCalc: %4 | CrcPack: %05).") << QStringList{"a", "b", "c", "97", "98"}
        << QStringLiteral("(CrcCalc: 97 | CrcPack: 98).");
    QTest::newRow("place marker inside an argument stays")
        << QStringLiteral("%1 and %2") << QStringList{"%2", "x"} << QStringLiteral("%2 and x");
    QTest::newRow("translation may reorder") << QStringLiteral("%3:%2 %1") << QStringList{"net", "a", "7"}
                                             << QStringLiteral("7:a net");
    QTest::newRow("marker without argument stays") << QStringLiteral("%1 %9 %") << QStringList{"net"}
                                                   << QStringLiteral("net %9 %");
}

void TestVelmoraFrame::fill()
{
    QFETCH(QString, text);
    QFETCH(QStringList, args);
    QFETCH(QString, expected);
    QCOMPARE(SVelmoraLogLine::fill(text, args), expected);
}

QTEST_GUILESS_MAIN(TestVelmoraFrame)
#include "tst_velmoraframe.moc"
