// What the network server keeps of each device for the devices window: the
// per-connection counters, the bounded list of connections that ended, and
// the snapshot made of both, over real loopback connections.

#include "networktesthelpers.h"
#include "testframes.h"

#include "svelmoraclient.h"
#include "svelmoradevicesnapshot.h"
#include "velmoradeparteddevices.h"
#include "velmoradeviceactivity.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"
#include "velmorapacketdecoder.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace NetworkTest;

namespace {

const QString kLocalHost = QStringLiteral("127.0.0.1");
const QByteArray kId = QByteArray::fromHex("0A0B0C");
const QByteArray kTestFrame = TestFrames::frame(kId, 0x0003, QByteArray());
const QByteArray kMacReply = TestFrames::frame(kId, 0x0090, QByteArray::fromHex("0102030405060708"));

// An alarm frame: message type 18, account 001234, the event, group 01,
// zone 003.
QByteArray alarm(const char *eventHex)
{
    return TestFrames::event(kId, 0x0004, QByteArray::fromHex(QByteArray("18001234") + eventHex + "010003"));
}

QVector<qint64> departureTimes(const QVector<SVelmoraDeviceRow> &rows)
{
    QVector<qint64> times;
    for (const SVelmoraDeviceRow &row : rows)
        times << row.disconnectedAt;
    return times;
}

SVelmoraDeviceSnapshot snapshotOf(VelmoraNetworkServer &server)
{
    // Through the slot and the signal, as the window gets it.
    QSignalSpy spy(&server, &VelmoraNetworkServer::deviceSnapshotSignal);
    server.deviceSnapshotSlot();
    return spy.count() == 1 ? spy.at(0).at(0).value<SVelmoraDeviceSnapshot>() : SVelmoraDeviceSnapshot();
}

} // namespace

class TestVelmoraDeviceTracking : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void departedDevicesAreBounded_data();
    void departedDevicesAreBounded();
    void activityOfOneRead_data();
    void activityOfOneRead();
    void snapshotOfConnectedAndDepartedDevices();
    void departedListKeepsItsLimitInTheServer();

private:
    QTemporaryDir logDirectory;
};

void TestVelmoraDeviceTracking::initTestCase()
{
    QVERIFY(logDirectory.isValid());
    QCOMPARE(VelmoraCommon_LogInit(logDirectory.path() + QLatin1Char('/'), kLogDebug), 1);
    registerVelmoraMsgType();
    registerVelmoraDeviceSnapshotType();
}

void TestVelmoraDeviceTracking::departedDevicesAreBounded_data()
{
    QTest::addColumn<qint64>("maxAgeMs");
    QTest::addColumn<int>("maxCount");
    QTest::addColumn<QVector<qint64>>("departures");
    QTest::addColumn<qint64>("now");
    QTest::addColumn<QVector<qint64>>("listed");

    const qint64 day = VelmoraDepartedDevices::kDefaultMaxAgeMs;
    QTest::newRow("all within the day, newest first")
        << day << 10 << QVector<qint64>{1000, 2000, 3000} << qint64(4000) << QVector<qint64>{3000, 2000, 1000};
    QTest::newRow("older than the age limit left out")
        << qint64(1000) << 10 << QVector<qint64>{1000, 2000, 3000} << qint64(3500) << QVector<qint64>{3000};
    QTest::newRow("exactly the age limit still listed")
        << qint64(1000) << 10 << QVector<qint64>{2000, 2500} << qint64(3000) << QVector<qint64>{2500, 2000};
    QTest::newRow("a day later none left")
        << day << 10 << QVector<qint64>{1000, 2000} << qint64(2001 + day) << QVector<qint64>{};
    QTest::newRow("beyond the cap the oldest go")
        << day << 2 << QVector<qint64>{1, 2, 3, 4} << qint64(5) << QVector<qint64>{4, 3};
    QTest::newRow("a cap of none keeps none") << day << 0 << QVector<qint64>{1, 2} << qint64(3) << QVector<qint64>{};
}

void TestVelmoraDeviceTracking::departedDevicesAreBounded()
{
    QFETCH(qint64, maxAgeMs);
    QFETCH(int, maxCount);
    QFETCH(QVector<qint64>, departures);
    QFETCH(qint64, now);
    QFETCH(QVector<qint64>, listed);

    VelmoraDepartedDevices departed;
    departed.setLimits(maxAgeMs, maxCount);
    for (qint64 at : departures) {
        SVelmoraDeviceRow row;
        row.disconnectedAt = at;
        departed.add(row);
        QVERIFY(departed.size() <= maxCount);
    }
    QCOMPARE(departureTimes(departed.rows(now)), listed);
    // Reading drops what it leaves out, so memory follows the list.
    QCOMPARE(departed.size(), listed.size());
}

void TestVelmoraDeviceTracking::activityOfOneRead_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("periodicTest");
    QTest::addColumn<bool>("macKnown");

    QTest::newRow("periodic test frame") << kTestFrame << 1 << true << false;
    QTest::newRow("alarm with event code 602") << alarm("1602") << 1 << true << false;
    QTest::newRow("alarm with another code") << alarm("1130") << 1 << false << false;
    QTest::newRow("code 602 with another qualifier") << alarm("3602") << 1 << true << false;
    QTest::newRow("code 601 is no periodic test") << alarm("1601") << 1 << false << false;
    QTest::newRow("MAC reply") << kMacReply << 1 << false << true;
    QTest::newRow("MAC reply and test frame in one read") << kMacReply + kTestFrame << 2 << true << true;
    QTest::newRow("bytes that are no frame") << QByteArray("hello world") << 0 << false << false;
    QTest::newRow("half a test frame") << kTestFrame.left(10) << 0 << false << false;
    QTest::newRow("frame with a broken tail") << kTestFrame.left(kTestFrame.size() - 3) + "xyz" << 0 << false << false;
}

void TestVelmoraDeviceTracking::activityOfOneRead()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, frames);
    QFETCH(bool, periodicTest);
    QFETCH(bool, macKnown);

    SVelmoraClient client;
    client.peerAddress = kLocalHost;
    const qint64 at = 1765000000000;
    const auto outcomes = VelmoraPacketDecoder::decodeRead(client, bytes.constData(), bytes.size(),
                                                           QDateTime::fromMSecsSinceEpoch(at));
    client.activity.noteOutcomes(outcomes, at);
    QCOMPARE(client.activity.framesReceived, quint64(frames));
    QCOMPARE(client.activity.lastFrameAt, frames > 0 ? at : 0);
    QCOMPARE(client.activity.lastTestAt, periodicTest ? at : 0);
    QCOMPARE(client.macKnown, macKnown);

    // A later read adds to the counts and moves only the times it concerns.
    // (Half a frame left waiting is not joined to it here.)
    client.receiveBuffer.takeAll();
    client.activity.noteOutcomes(VelmoraPacketDecoder::decodeRead(client, alarm("1130").constData(),
                                                                  alarm("1130").size(), QDateTime()),
                                 at + 5000);
    QCOMPARE(client.activity.framesReceived, quint64(frames + 1));
    QCOMPARE(client.activity.lastFrameAt, at + 5000);
    QCOMPARE(client.activity.lastTestAt, periodicTest ? at : 0);
}

void TestVelmoraDeviceTracking::snapshotOfConnectedAndDepartedDevices()
{
    VelmoraNetworkServer server;
    const int port = freePort();
    server.setListenAddress(kLocalHost, port);
    QSignalSpy logSpy(&server, &VelmoraNetworkServer::logSignal);
    server.startSlot();
    QVERIFY(texts(logSpy).contains(QStringLiteral("[net] Server start listening 127.0.0.1:%1.").arg(port)));

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    auto tester = connectDevice(port);
    QVERIFY(tester);
    auto silent = connectDevice(port);
    QVERIFY(silent);
    QTRY_COMPARE(server.connectionCount(), 2);
    tester->write(kMacReply);
    QVERIFY(!readReply(tester.get()).isEmpty());
    tester->write(kTestFrame);
    QCOMPARE(readReply(tester.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
    const qint64 afterTest = QDateTime::currentMSecsSinceEpoch();

    SVelmoraDeviceSnapshot snapshot = snapshotOf(server);
    QCOMPARE(snapshot.connected.size(), 2);
    QCOMPARE(snapshot.disconnected.size(), 0);
    // In the order they connected.
    const SVelmoraDeviceRow testerRow = snapshot.connected.at(0);
    QCOMPARE(testerRow.peerPort, tester->localPort());
    QCOMPARE(testerRow.peerAddress, kLocalHost);
    QCOMPARE(testerRow.deviceId, QStringLiteral("0A0B0C"));
    QCOMPARE(testerRow.framesReceived, quint64(2));
    QVERIFY(testerRow.macKnown);
    QVERIFY(testerRow.connectedAt >= before && testerRow.connectedAt <= testerRow.lastTestAt);
    QVERIFY(testerRow.lastTestAt >= before && testerRow.lastTestAt <= afterTest);
    QCOMPARE(testerRow.lastFrameAt, testerRow.lastTestAt);
    QCOMPARE(testerRow.disconnectedAt, qint64(0));
    const SVelmoraDeviceRow silentRow = snapshot.connected.at(1);
    QCOMPARE(silentRow.peerPort, silent->localPort());
    QCOMPARE(silentRow.deviceId, QString());
    QCOMPARE(silentRow.framesReceived, quint64(0));
    QCOMPARE(silentRow.lastTestAt, qint64(0));
    QVERIFY(!silentRow.macKnown);

    // The device that hangs up is listed as gone, with what it had done.
    tester->disconnectFromHost();
    QTRY_COMPARE(server.connectionCount(), 1);
    snapshot = snapshotOf(server);
    QCOMPARE(snapshot.connected.size(), 1);
    QCOMPARE(snapshot.connected.at(0).peerPort, silent->localPort());
    QCOMPARE(snapshot.disconnected.size(), 1);
    const SVelmoraDeviceRow gone = snapshot.disconnected.at(0);
    QCOMPARE(gone.peerPort, testerRow.peerPort);
    QCOMPARE(gone.lastTestAt, testerRow.lastTestAt);
    QCOMPARE(gone.framesReceived, quint64(2));
    QVERIFY(gone.disconnectedAt >= afterTest && gone.disconnectedAt <= snapshot.takenAt);

    // A stop ends the other connection too; the newest departure comes first.
    server.stopSlot();
    snapshot = snapshotOf(server);
    QCOMPARE(snapshot.connected.size(), 0);
    QCOMPARE(snapshot.disconnected.size(), 2);
    QCOMPARE(snapshot.disconnected.at(0).peerPort, silentRow.peerPort);
    QCOMPARE(snapshot.disconnected.at(1).peerPort, testerRow.peerPort);
}

void TestVelmoraDeviceTracking::departedListKeepsItsLimitInTheServer()
{
    VelmoraNetworkServer server;
    server.setDepartedLimits(VelmoraDepartedDevices::kDefaultMaxAgeMs, 3);
    const int port = freePort();
    server.setListenAddress(kLocalHost, port);
    server.startSlot();
    QVector<quint16> ports;
    for (int round = 0; round < 5; ++round) {
        auto device = connectDevice(port);
        QVERIFY(device);
        QTRY_COMPARE(server.connectionCount(), 1);
        ports.prepend(device->localPort());
        device->disconnectFromHost();
        QTRY_COMPARE(server.connectionCount(), 0);
    }
    const SVelmoraDeviceSnapshot snapshot = snapshotOf(server);
    QCOMPARE(snapshot.disconnected.size(), 3);
    for (int index = 0; index < 3; ++index)
        QCOMPARE(snapshot.disconnected.at(index).peerPort, ports.at(index));
}

QTEST_GUILESS_MAIN(TestVelmoraDeviceTracking)
#include "tst_velmoradevicetracking.moc"
