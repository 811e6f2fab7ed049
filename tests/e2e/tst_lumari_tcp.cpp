#include "lumariinstance.h"
#include "listeningstation.h"
#include "ptystation.h"
#include "testdevice.h"

#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

// Generous: the suite also runs under the sanitizers on two cores.
constexpr int kStartMs = 30000;
constexpr int kLineMs = 20000;
// A lost line is opened again every 5 s.
constexpr int kReopenMs = 5000;

const QByteArray kWorkedExample = QByteArray::fromHex(
    "4DD400001A0000000001011234560000000000040018001234113001000561 4C0D0A");
const QByteArray kWorkedExampleAck = QByteArray::fromHex(
    "4DD40000100000800001011234560000000000012F4C0D0A");
const QByteArray kWorkedExampleLine = QByteArray("5011 181234E13001005\x14");
const QString kIgnoredSettings =
    QStringLiteral(" Baud rate, data bits, parity and stop bits do not apply to %1 and are ignored.");

SVelmoraConf confFor(const QString &address, quint16 port, int keepAlive)
{
    SVelmoraConf conf;
    conf.tcpPort = port;
    conf.comName = address;
    conf.keepAlive = keepAlive;
    return conf;
}

// A device that has connected and been asked for its MAC.
bool connectDevice(TestDevice &device, quint16 port)
{
    return device.connectTo(port) && device.readMacRequest() == TestDevice::macRequest();
}

// Sends the events with zones from firstZone on; the lines they should become.
QList<QByteArray> sendEvents(TestDevice &device, int count, quint16 firstZone)
{
    QList<QByteArray> expected;
    for (int i = 0; i < count; ++i) {
        TestDevice::Event event;
        event.zone = static_cast<quint16>(firstZone + i);
        if (!device.sendEvent(event) || device.readFrame() != device.expectedAck())
            return QList<QByteArray>();
        expected << TestDevice::expectedLine(event);
    }
    return expected;
}

} // namespace

// The real program writing its receiver lines to monitoring software that
// listens on TCP, played by the station simulator.
class TestLumariTcp : public QObject
{
    Q_OBJECT

private slots:
    void workedExampleByteForByte();
    void stationClosesThenListensAgain();
    void stationNotListeningAtStart();
    void unansweredLinesAsOnSerial_data();
    void unansweredLinesAsOnSerial();
    void fallbackWhilePrimaryAway();
};

void TestLumariTcp::workedExampleByteForByte()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    SVelmoraConf conf = confFor(station.address(), port, 0);
    conf.baudRateIndex = 6; // 9600: no meaning on TCP, said once
    QVERIFY(lumari.startListening(conf, kStartMs));

    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(connectDevice(device, port));
    QVERIFY(device.sendRaw(kWorkedExample));
    QCOMPARE(device.readFrame(), kWorkedExampleAck);

    QVERIFY(station.waitForLines(1, kLineMs));
    QCOMPARE(station.lines(), QList<QByteArray>{kWorkedExampleLine});
    QCOMPARE(station.acknowledgedEvents(), QList<QByteArray>{kWorkedExampleLine});
    QVERIFY(lumari.waitForLog(QStringLiteral("[com] COMMSG: ") + QString::fromLatin1(kWorkedExampleLine), kLineMs));
    const QString log = lumari.dayLog();
    QVERIFY2(log.contains(QStringLiteral("[com] ") + station.address() + QStringLiteral(" is ready to work!")),
             qPrintable(log));
    QCOMPARE(log.count(QStringLiteral("[com]") + kIgnoredSettings.arg(station.address())), 1);
    QCOMPARE(station.connections(), 1);
}

void TestLumariTcp::stationClosesThenListensAgain()
{
    auto first = std::make_unique<ListeningStation>();
    QVERIFY(first->start(0));
    const QString address = first->address();
    const quint16 stationPort = first->port();
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(address, port, 0), kStartMs));
    // The defaults of the serial settings: nothing to say about them.
    QVERIFY(!lumari.dayLog().contains(kIgnoredSettings.arg(address)));

    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(connectDevice(device, port));
    const QList<QByteArray> before = sendEvents(device, 1, 0x100);
    QVERIFY(!before.isEmpty());
    QVERIFY(first->waitForAcknowledgedEvents(1, kLineMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("[com] COMMSG: "), kLineMs));

    // The station goes mid-run; what comes meanwhile is held, and goes out
    // in order once it listens again.
    first.reset();
    const QList<QByteArray> held = sendEvents(device, 8, 0x200);
    QCOMPARE(held.size(), 8);
    // The line is tried again only after its reopen interval, so the
    // station stays away at least that long.
    QVERIFY(lumari.waitForLog(QStringLiteral("[com] Lost the port ") + address, kLineMs));
    ListeningStation second;
    QVERIFY(second.start(stationPort));
    QVERIFY(second.waitForAcknowledgedEvents(held.size(), kReopenMs + kLineMs));
    QCOMPARE(second.acknowledgedEvents(), held);
    QCOMPARE(second.connections(), 1);
    QCOMPARE(lumari.state(), QProcess::Running);
}

void TestLumariTcp::stationNotListeningAtStart()
{
    const quint16 stationPort = LumariInstance::freePort();
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(stationPort);
    LumariInstance lumari;
    const SVelmoraConf conf = confFor(address, LumariInstance::freePort(), 0);
    QVERIFY(lumari.isValid());
    QVERIFY(lumari.writeConf(conf));
    QVERIFY(lumari.start());

    // The receiver stops as for a port that does not open, with the reason.
    QVERIFY(lumari.waitForLog(QStringLiteral("[com] Couldn't open ") + address
                                  + QStringLiteral(". (Connection refused)"),
                              kStartMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("[net] Server stopped successfully."), kStartMs));
    TestDevice refused(QByteArray::fromHex("000001"));
    QVERIFY(!refused.connectTo(static_cast<quint16>(conf.tcpPort), 2000));

    // Whether the receiver listened before the port failed depends on which
    // thread came first: one listening line more than now.
    const int listened = lumari.dayLog().count(QStringLiteral("Server start listening"));
    ListeningStation station;
    QVERIFY(station.start(stationPort));
    QVERIFY(lumari.waitForLog(address + QStringLiteral(" is ready to work!"), kReopenMs + kLineMs));
    QVERIFY2(lumari.waitForLog(QStringLiteral("Server start listening"), kLineMs, listened + 1),
             qPrintable(lumari.dayLog()));
    // Each retry failed like the first: said once.
    QCOMPARE(lumari.dayLog().count(QStringLiteral("[com] Couldn't open ") + address), 1);

    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(connectDevice(device, static_cast<quint16>(conf.tcpPort)));
    const QList<QByteArray> expected = sendEvents(device, 2, 0x300);
    QVERIFY(station.waitForAcknowledgedEvents(2, kLineMs));
    QCOMPARE(station.acknowledgedEvents(), expected);
}

void TestLumariTcp::unansweredLinesAsOnSerial_data()
{
    QTest::addColumn<QStringList>("answer");
    QTest::newRow("NAK") << QStringList{QStringLiteral("--answer"), QStringLiteral("nak")};
    QTest::newRow("silent") << QStringList{QStringLiteral("--answer"), QStringLiteral("none")};
}

void TestLumariTcp::unansweredLinesAsOnSerial()
{
    QFETCH(QStringList, answer);
    ListeningStation station;
    QVERIFY(station.start(0, answer));
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station.address(), port, 0), kStartMs));

    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(connectDevice(device, port));
    const QList<QByteArray> expected = sendEvents(device, 1, 0x400);
    QVERIFY(!expected.isEmpty());

    // Three writes of the line, the failure line, then the absence line.
    QVERIFY(lumari.waitForLog(QStringLiteral(" The monitoring software does not acknowledge; events held: 1"),
                              kLineMs));
    QVERIFY(lumari.dayLog().contains(QStringLiteral("Writing ") + station.address()
                                     + QStringLiteral(" to  was failed! Packet:\n")
                                     + QString::fromLatin1(expected.first())));
    QVERIFY(station.waitForLines(3, kLineMs));
    QCOMPARE(station.lines(), (QList<QByteArray>{expected.first(), expected.first(), expected.first()}));
    QVERIFY(station.acknowledgedEvents().isEmpty());
    QCOMPARE(station.connections(), 1);
}

void TestLumariTcp::fallbackWhilePrimaryAway()
{
    auto primary = std::make_unique<ListeningStation>();
    QVERIFY(primary->start(0));
    const QString address = primary->address();
    const quint16 stationPort = primary->port();
    PtyStation fallback;
    fallback.setAcknowledging(true);
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    SVelmoraConf conf = confFor(address, port, 1);
    conf.comFallback = fallback.slavePath();
    QVERIFY(lumari.startListening(conf, kStartMs));
    QVERIFY(lumari.waitForLog(fallback.slavePath() + QStringLiteral(" is ready to work!"), kLineMs));

    // Both answer: the events go to the primary.
    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(connectDevice(device, port));
    const QList<QByteArray> first = sendEvents(device, 2, 0x100);
    QVERIFY(primary->waitForAcknowledgedEvents(2, kLineMs));
    QVERIFY(fallback.waitForLines(1, kLineMs));

    // The primary goes: the next events reach the fallback, in order.
    primary.reset();
    const QList<QByteArray> second = sendEvents(device, 3, 0x200);
    QCOMPARE(second.size(), 3);
    QVERIFY2(fallback.waitUntil([&] {
                 const QList<QByteArray> got = fallback.acknowledgedEvents();
                 return std::all_of(second.begin(), second.end(), [&](const QByteArray &line) { return got.contains(line); });
             }, kLineMs),
             qPrintable(lumari.dayLog().right(2000)));
    QVERIFY(lumari.dayLog().contains(QStringLiteral("[com] Events now go to the fallback output ") + fallback.slavePath()
                                     + QStringLiteral(": the primary output is closed")));

    // It listens again: after its answered keepalive the events go back.
    ListeningStation back;
    QVERIFY(back.start(stationPort));
    QVERIFY(lumari.waitForLog(QStringLiteral("[com] Events now go to the primary output ") + address
                                  + QStringLiteral(": the primary output answers its keepalive again"),
                              kReopenMs + kLineMs));
    const QList<QByteArray> third = sendEvents(device, 2, 0x300);
    QVERIFY(back.waitForAcknowledgedEvents(2, kLineMs));
    QCOMPARE(back.acknowledgedEvents(), third);

    // Every event delivered; at most the exchange in flight at each of the
    // two switches reached both.
    const QList<QByteArray> atFallback = fallback.eventLines();
    QList<QByteArray> delivered = fallback.acknowledgedEvents() + back.acknowledgedEvents();
    for (const QByteArray &line : first + second + third)
        QVERIFY2(delivered.contains(line) || first.contains(line), line.constData());
    int atBoth = 0;
    for (const QByteArray &line : first + third)
        atBoth += atFallback.contains(line) ? 1 : 0;
    QVERIFY2(atBoth <= 2, qPrintable(QString::number(atBoth)));
    for (const QByteArray &line : second)
        QCOMPARE(fallback.acknowledgedEvents().count(line), 1);
}

QTEST_GUILESS_MAIN(TestLumariTcp)
#include "tst_lumari_tcp.moc"
