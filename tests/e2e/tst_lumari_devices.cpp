#include "listeningstation.h"
#include "lumariinstance.h"
#include "testdevice.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

namespace {

// Generous: the suite also runs under the sanitizers on two cores.
constexpr int kStartMs = 30000;
constexpr int kLineMs = 20000;
// Short periods are taken from the file for testing.
constexpr int kPeriodS = 5;
// The report is due within the period and 2 s; the rest is slack for a
// loaded machine, so that only a hang or a missed check fails.
constexpr qint64 kReportBoundMs = (kPeriodS + 2) * 1000 + 3000;

const QByteArray kMacA = QByteArray::fromHex("0102030405060708");
const QByteArray kMacB = QByteArray::fromHex("1112131415161718");

QByteArray absenceLine(const QByteArray &account4)
{
    return "5011 18" + account4 + "E35000000\x14";
}

QByteArray restoreLine(const QByteArray &account4)
{
    return "5011 18" + account4 + "R35000000\x14";
}

SVelmoraConf confFor(const ListeningStation &station, quint16 port)
{
    SVelmoraConf conf;
    conf.tcpPort = port;
    conf.comName = station.address();
    conf.keepAlive = 0;
    return conf;
}

// Connects, presents the MAC and has it acknowledged.
bool introduce(TestDevice &device, quint16 port, const QByteArray &mac)
{
    return device.connectTo(port) && device.readMacRequest() == TestDevice::macRequest() && device.sendMac(mac)
        && device.readFrame() == device.expectedAck();
}

// An event on the device's own account, whose line ends in the zone.
TestDevice::Event eventOf(quint32 account, quint16 zone)
{
    TestDevice::Event event;
    event.account = account;
    event.zone = zone;
    return event;
}

bool writeList(const LumariInstance &lumari, const QByteArray &bytes)
{
    QFile file(QDir(lumari.appDir()).filePath(QStringLiteral("conf/devices.csv")));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

// The real program supervising devices and refusing strangers, with the
// station simulator as monitoring software on TCP.
class TestLumariDevices : public QObject
{
    Q_OBJECT

private slots:
    void silentDevicesReportedAndRestored();
    void listedDevicesOnly();
    void defaultsReportNothing();
};

void TestLumariDevices::silentDevicesReportedAndRestored()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    SVelmoraConf conf = confFor(station, port);
    conf.supervisionS = kPeriodS;
    QVERIFY(lumari.startListening(conf, kStartMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("below 30 s: accepted for testing only"), kLineMs));

    // One device stays connected and goes silent, the other leaves.
    TestDevice connected(QByteArray::fromHex("0A0B0C"));
    TestDevice leaving(QByteArray::fromHex("0A0B0D"));
    QVERIFY(introduce(connected, port, kMacA));
    QVERIFY(introduce(leaving, port, kMacB));
    QElapsedTimer sinceLastFrame;
    sinceLastFrame.start();
    leaving.disconnectFromHost();

    QVERIFY(station.waitForAcknowledgedEvents(2, kReportBoundMs));
    const qint64 reportedAfterMs = sinceLastFrame.elapsed();
    qInfo("absences reported %lld ms after the last frames", static_cast<long long>(reportedAfterMs));
    QVERIFY(reportedAfterMs <= kReportBoundMs);
    QList<QByteArray> lines = station.acknowledgedEvents();
    std::sort(lines.begin(), lines.end());
    QCOMPARE(lines, (QList<QByteArray>{absenceLine("0B0C"), absenceLine("0B0D")}));
    QVERIFY(lumari.waitForLog(QStringLiteral("Device 0A0B0C not heard for 5 s: absence (E350) reported."), kLineMs));

    // Heard again: the restore goes before the frame's own event.
    const TestDevice::Event event = eventOf(0x0A0B0C, 0x101);
    QVERIFY(connected.sendEvent(event));
    QCOMPARE(connected.readFrame(), connected.expectedAck());
    QVERIFY(station.waitForAcknowledgedEvents(4, kLineMs));
    QCOMPARE(station.acknowledgedEvents().mid(2), (QList<QByteArray>{restoreLine("0B0C"), TestDevice::expectedLine(event)}));

    // Killed and started again: the absence reported before is not
    // reported again, and its restore is sent when the device is heard.
    lumari.kill();
    QVERIFY(lumari.startListening(conf, kStartMs));
    QTest::qWait((kPeriodS + 3) * 1000);
    for (const QByteArray &line : station.acknowledgedEvents().mid(4))
        QVERIFY2(line != absenceLine("0B0D"), line.constData());
    TestDevice back(QByteArray::fromHex("0A0B0D"));
    QVERIFY(introduce(back, port, kMacB));
    QVERIFY(QTest::qWaitFor([&] { return station.acknowledgedEvents().contains(restoreLine("0B0D")); }, kLineMs));
    QCOMPARE(station.acknowledgedEvents().count(absenceLine("0B0D")), 1);
}

void TestLumariDevices::listedDevicesOnly()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    SVelmoraConf conf = confFor(station, port);
    conf.devices = QStringLiteral("listed");
    QVERIFY(QDir().mkpath(QDir(lumari.appDir()).filePath(QStringLiteral("conf"))));
    QVERIFY(writeList(lumari, "device_id;description;supervision_s;mac\n0A0B0E;Pinned;;0102030405060708\n"
                              "0A0B0;short;;\n"));
    QVERIFY(lumari.startListening(conf, kStartMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("line 3 skipped: device_id \"0A0B0\" is not 6 hex digits"), kLineMs));

    // Not listed: no ACK, the connection closed, one line.
    TestDevice stranger(QByteArray::fromHex("0A0B0C"));
    QVERIFY(stranger.connectTo(port));
    QCOMPARE(stranger.readMacRequest(), TestDevice::macRequest());
    QVERIFY(stranger.sendMac(kMacA));
    QCOMPARE(stranger.readFrame(2000), QByteArray());
    QVERIFY(QTest::qWaitFor([&] { return stranger.state() == QAbstractSocket::UnconnectedState; }, kLineMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("Device 0A0B0C from 127.0.0.1:"), kLineMs));
    QVERIFY(lumari.dayLog().contains(QStringLiteral("refused: not listed.")));

    // A pinned MAC refuses another one.
    TestDevice impostor(QByteArray::fromHex("0A0B0E"));
    QVERIFY(impostor.connectTo(port));
    QCOMPARE(impostor.readMacRequest(), TestDevice::macRequest());
    QVERIFY(impostor.sendMac(kMacB));
    QCOMPARE(impostor.readFrame(2000), QByteArray());
    QVERIFY(lumari.waitForLog(
        QStringLiteral("refused: MAC differs: expected 0102030405060708, got 1112131415161718."), kLineMs));

    // Listed while it repeats: its next repeat is acknowledged and its
    // event delivered once.
    QVERIFY(writeList(lumari, "device_id;description;supervision_s;mac\n0A0B0E;Pinned;;0102030405060708\n"
                              "0A0B0C;Shop;;\n"));
    QVERIFY(lumari.waitForLog(QStringLiteral("conf/devices.csv read: 2 device(s)."), 10000));
    const TestDevice::Event event = eventOf(0x0A0B0C, 0x102);
    TestDevice admitted(QByteArray::fromHex("0A0B0C"));
    QVERIFY(introduce(admitted, port, kMacA));
    QVERIFY(admitted.sendEvent(event));
    QCOMPARE(admitted.readFrame(), admitted.expectedAck());
    QVERIFY(station.waitForAcknowledgedEvents(1, kLineMs));
    QTest::qWait(500);
    QCOMPARE(station.acknowledgedEvents(), QList<QByteArray>{TestDevice::expectedLine(event)});
}

void TestLumariDevices::defaultsReportNothing()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station, port), kStartMs));
    // The defaults are not written: the file is as before the settings.
    QFile confFile(QDir(lumari.appDir()).filePath(QStringLiteral("conf/Lumari.conf")));
    QVERIFY(confFile.open(QIODevice::ReadOnly));
    const QByteArray confBytes = confFile.readAll();
    QVERIFY(!confBytes.contains("LUMARISUPERVISION") && !confBytes.contains("LUMARIDEVICES"));

    TestDevice device(QByteArray::fromHex("0A0B0C"));
    QVERIFY(introduce(device, port, kMacA));
    const TestDevice::Event event = eventOf(0x0A0B0C, 0x103);
    QVERIFY(device.sendEvent(event));
    QCOMPARE(device.readFrame(), device.expectedAck());
    QVERIFY(station.waitForAcknowledgedEvents(1, kLineMs));
    device.disconnectFromHost();
    QTest::qWait((kPeriodS + 3) * 1000);
    QCOMPARE(station.acknowledgedEvents(), QList<QByteArray>{TestDevice::expectedLine(event)});
}

QTEST_GUILESS_MAIN(TestLumariDevices)

#include "tst_lumari_devices.moc"
