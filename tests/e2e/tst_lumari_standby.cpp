#include "listeningstation.h"
#include "lumariinstance.h"
#include "notifysocket.h"
#include "pgcluster.h"
#include "testdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <csignal>
#include <functional>
#include <thread>

namespace {

constexpr int kStartMs = 30000;
constexpr int kLineMs = 20000;
// A standby listens within 15 s of the active's last renewal, which came at
// most one renewal period (3 s) before the kill; the rest is for the
// sanitizers on two cores.
constexpr int kTakeoverMs = 15000;
constexpr int kSlackMs = 10000;
const QString kListening = QStringLiteral("Server start listening");
const QString kStandby = QStringLiteral("Standby: ");

SVelmoraConf confFor(const QString &station, const QString &journal)
{
    SVelmoraConf conf;
    conf.tcpPort = LumariInstance::freePort();
    conf.comName = station;
    conf.keepAlive = 0;
    conf.journal = journal;
    // The station answers every line; a loaded machine may hold it up
    // beyond the default wait, and a line written again for that would
    // count as a line delivered twice.
    conf.comAckWaitMs = 5000;
    return conf;
}

// Sends count events with zones from firstZone on to whichever port
// answers, each until it is acknowledged; their lines. afterAck is told
// the number acknowledged so far after each.
QList<QByteArray> sendAcknowledged(const QList<quint16> &ports, int count, quint16 firstZone, int timeoutMs,
                                   const std::function<void(int)> &afterAck = {})
{
    QList<QByteArray> lines;
    QElapsedTimer timer;
    timer.start();
    int zone = firstZone;
    while (lines.size() < count && timer.elapsed() < timeoutMs) {
        for (const quint16 port : ports) {
            TestDevice device(QByteArray::fromHex("123456"));
            if (!device.connectTo(port) || device.readMacRequest() != TestDevice::macRequest())
                continue;
            while (lines.size() < count) {
                TestDevice::Event event;
                event.zone = static_cast<quint16>(zone);
                if (!device.sendEvent(event) || device.readFrame() != device.expectedAck())
                    break;
                lines << TestDevice::expectedLine(event);
                ++zone;
                if (afterAck)
                    afterAck(lines.size());
            }
        }
        QTest::qWait(100);
    }
    return lines;
}

// Every one of the lines has reached the station.
bool allDelivered(ListeningStation &station, const QList<QByteArray> &lines)
{
    const QList<QByteArray> delivered = station.acknowledgedEvents();
    return std::all_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) { return delivered.contains(line); });
}

// Starts both on one database; true once either listens, and which.
bool startBoth(LumariInstance &first, const SVelmoraConf &firstConf, LumariInstance &second,
               const SVelmoraConf &secondConf, bool *firstIsActive)
{
    if (!first.writeConf(firstConf) || !first.start() || !second.writeConf(secondConf) || !second.start())
        return false;
    if (!QTest::qWaitFor(
            [&] { return first.dayLog().contains(kListening) || second.dayLog().contains(kListening); },
            kTakeoverMs + kSlackMs))
        return false;
    *firstIsActive = first.dayLog().contains(kListening);
    return true;
}

bool acceptsConnections(quint16 port)
{
    TestDevice device(QByteArray::fromHex("123456"));
    return device.connectTo(port) && device.readMacRequest() == TestDevice::macRequest();
}

} // namespace

// Two real programs on one throwaway PostgreSQL database: one active, one
// standby, and what a takeover keeps.
class TestLumariStandby : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void standbyTakesOverFromKilledActive_data();
    void standbyTakesOverFromKilledActive();
    void activeCutFromDatabaseFencesItself();
    void databaseStoppedAndStartedWhileEventsFlow();
    void takeoverKnowsTheDevicesOfThePreviousActive();

private:
    PgCluster cluster;
};

void TestLumariStandby::initTestCase()
{
    QString why;
    if (PgCluster::binDirectory().isEmpty())
        QSKIP("The PostgreSQL server binaries are not installed (Debian package postgresql); nothing to run against.");
    QVERIFY2(cluster.start(&why), qPrintable(why));
}

// The instances of the test before were killed: their lease is given back
// rather than waited out.
void TestLumariStandby::init()
{
    QString output;
    QVERIFY2(cluster.sql(QStringLiteral("DO $$BEGIN IF to_regclass('lumari_lease') IS NOT NULL THEN "
                                        "UPDATE lumari_lease SET owner = '', expires_at = '-infinity'; END IF; END$$"),
                         &output),
             qPrintable(output));
}

void TestLumariStandby::standbyTakesOverFromKilledActive_data()
{
    QTest::addColumn<bool>("midStream");
    // Every mark written: one line in flight may come twice.
    QTest::newRow("killed between two streams") << false;
    // An event may be half-way to the journal, a line half-way to the
    // station: those may come twice.
    QTest::newRow("killed at a random moment of a stream") << true;
}

void TestLumariStandby::standbyTakesOverFromKilledActive()
{
    QFETCH(bool, midStream);
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance first;
    LumariInstance second;
    const SVelmoraConf firstConf = confFor(station.address(), cluster.connectionString());
    const SVelmoraConf secondConf = confFor(station.address(), cluster.connectionString());
    QVERIFY(first.startListening(firstConf, kStartMs));
    // The standby is ready for the service manager although it does not
    // listen, and says why.
    QTemporaryDir notifyDir;
    NotifySocket notify(notifyDir.filePath(QStringLiteral("notify")));
    QVERIFY(notify.isValid());
    qputenv("NOTIFY_SOCKET", QFile::encodeName(notifyDir.filePath(QStringLiteral("notify"))));
    const bool secondStarted = second.writeConf(secondConf) && second.start();
    qunsetenv("NOTIFY_SOCKET");
    QVERIFY(secondStarted);
    QVERIFY(second.waitForLog(kStandby, kStartMs));
    QTRY_COMPARE_WITH_TIMEOUT(notify.count("READY=1"), 1, kStartMs);
    QVERIFY(notify.hasMessageStartingWith("STATUS=Not listening for devices: standby"));
    // The standby neither listens nor drives its line.
    QTest::qWait(2000);
    QVERIFY(!second.dayLog().contains(kListening));
    QVERIFY(!acceptsConnections(secondConf.tcpPort));
    QCOMPARE(station.connections(), 1);

    const QList<quint16> ports = {quint16(firstConf.tcpPort), quint16(secondConf.tcpPort)};
    // Mid-stream after a random number of ACKs and a random few
    // milliseconds more.
    const int killAfterAcks = midStream ? QRandomGenerator::global()->bounded(1, 19) : 20;
    const int killDelayUs = midStream ? QRandomGenerator::global()->bounded(5000) : 0;
    if (midStream)
        qInfo("the active is killed %d us after the ACK of event %d of 20", killDelayUs, killAfterAcks);
    QElapsedTimer sinceKill;
    const auto activePid = static_cast<pid_t>(first.pid());
    std::thread killer;
    QList<QByteArray> acknowledged =
        sendAcknowledged(ports, 20, 1, kLineMs + kTakeoverMs + kSlackMs, [&](int acknowledgedSoFar) {
            if (!midStream || acknowledgedSoFar != killAfterAcks)
                return;
            killer = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::microseconds(killDelayUs));
                sinceKill.start();
                ::kill(activePid, SIGKILL);
            });
        });
    if (midStream) {
        QVERIFY(killer.joinable());
        killer.join();
    } else {
        QCOMPARE(acknowledged.size(), 20);
        first.kill();
        sinceKill.start();
    }
    QVERIFY2(second.waitForLog(kListening, kTakeoverMs + kSlackMs), qPrintable(second.dayLog()));
    qInfo("the standby listened %lld ms after the kill", sinceKill.elapsed());
    acknowledged += sendAcknowledged(ports, 10, 100, kLineMs);
    QCOMPARE(acknowledged.size(), 30);

    // Every acknowledged event reaches the station; none more than twice.
    QVERIFY(station.waitForAcknowledgedEvents(30, kLineMs));
    QTRY_VERIFY_WITH_TIMEOUT(allDelivered(station, acknowledged), kLineMs);
    const QList<QByteArray> delivered = station.acknowledgedEvents();
    qInfo("%d lines for %d events", int(delivered.size()), int(acknowledged.size()));
    QVERIFY(std::all_of(delivered.cbegin(), delivered.cend(),
                        [&](const QByteArray &line) { return delivered.count(line) <= 2; }));
    // Each delivery is committed before the next line: the line in flight
    // may come twice, and mid-stream also the event committed whose ACK the
    // kill cut off, which its device sends again.
    const int twiceAtMost = midStream ? 2 : 1;
    QVERIFY2(delivered.size() <= acknowledged.size() + twiceAtMost,
             qPrintable(QStringLiteral("%1 lines for %2 events").arg(delivered.size()).arg(acknowledged.size())));
}

void TestLumariStandby::activeCutFromDatabaseFencesItself()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance first;
    LumariInstance second;
    const SVelmoraConf firstConf = confFor(station.address(), cluster.connectionString());
    const SVelmoraConf secondConf = confFor(station.address(), cluster.connectionString());
    // Either may become active first.
    bool firstIsActive = false;
    QVERIFY(startBoth(first, firstConf, second, secondConf, &firstIsActive));
    LumariInstance &active = firstIsActive ? first : second;
    LumariInstance &standby = firstIsActive ? second : first;
    const auto activePort = quint16((firstIsActive ? firstConf : secondConf).tcpPort);
    QVERIFY(acceptsConnections(activePort));

    QString output;
    QVERIFY2(cluster.sql(QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                                        "WHERE application_name = 'lumari %1'")
                             .arg(active.pid()),
                         &output),
             qPrintable(output));
    // Within the lease it stops: devices disconnected, nothing acknowledged.
    QVERIFY2(active.waitForLog(QStringLiteral("Standby: the lease"), 10000), qPrintable(active.dayLog()));
    QTRY_VERIFY_WITH_TIMEOUT(!acceptsConnections(activePort), 5000);
    QVERIFY2(standby.waitForLog(kListening, kTakeoverMs + kSlackMs), qPrintable(standby.dayLog()));
    const QList<QByteArray> acknowledged =
        sendAcknowledged({quint16(firstConf.tcpPort), quint16(secondConf.tcpPort)}, 5, 200, kLineMs);
    QCOMPARE(acknowledged.size(), 5);
    QVERIFY(station.waitForAcknowledgedEvents(5, kLineMs));
}

void TestLumariStandby::databaseStoppedAndStartedWhileEventsFlow()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance lumari;
    const SVelmoraConf conf = confFor(station.address(), cluster.connectionString());
    QVERIFY(lumari.startListening(conf, kStartMs));
    // Still active after its first renewals (every 3 s).
    QTest::qWait(3500);
    const QList<quint16> port = {quint16(conf.tcpPort)};
    QList<QByteArray> acknowledged = sendAcknowledged(port, 5, 300, kLineMs);
    QCOMPARE(acknowledged.size(), 5);
    QCOMPARE(lumari.dayLog().count(kStandby), 1);

    // No ACK while the database is down: the device keeps its event.
    QVERIFY(cluster.stop());
    TestDevice device(QByteArray::fromHex("123456"));
    TestDevice::Event kept;
    kept.zone = 305;
    if (device.connectTo(conf.tcpPort) && device.readMacRequest() == TestDevice::macRequest() &&
        device.sendEvent(kept))
        QVERIFY(device.readFrame(2000) != device.expectedAck());
    const QString lost = QStringLiteral("The journal's database does not answer: ");
    QVERIFY2(lumari.waitForLog(lost, kLineMs), qPrintable(lumari.dayLog()));
    QTest::qWait(1500);
    QString why;
    QVERIFY2(cluster.restart(&why), qPrintable(why));

    // Back by itself: the kept event and the ones after it are acknowledged
    // and reach the station, and the outage was told once, with libpq's
    // reason.
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    acknowledged += sendAcknowledged(port, 5, 305, kTakeoverMs + kSlackMs + kLineMs);
    qInfo("ACKs resumed %lld ms after the database was started again", sinceRestart.elapsed());
    QCOMPARE(acknowledged.size(), 10);
    QVERIFY(station.waitForAcknowledgedEvents(10, kLineMs));
    QTRY_VERIFY_WITH_TIMEOUT(allDelivered(station, acknowledged), kLineMs);
    const QString dayLog = lumari.dayLog();
    QCOMPARE(dayLog.count(lost), 1);
    QVERIFY(!dayLog.contains(lost + QStringLiteral(".")));
    QVERIFY(dayLog.contains(QStringLiteral("The journal's database answers again.")));
}

void TestLumariStandby::takeoverKnowsTheDevicesOfThePreviousActive()
{
    const QByteArray mac = QByteArray::fromHex("1112131415161718");
    const QByteArray absence = QByteArrayLiteral("5011 180B0DE35000000\x14");
    const QByteArray restore = QByteArrayLiteral("5011 180B0DR35000000\x14");
    const auto introduce = [](TestDevice &device, quint16 port, const QByteArray &presented) {
        return device.connectTo(port) && device.readMacRequest() == TestDevice::macRequest()
            && device.sendMac(presented) && device.readFrame() == device.expectedAck();
    };
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance first;
    LumariInstance second;
    SVelmoraConf firstConf = confFor(station.address(), cluster.connectionString());
    SVelmoraConf secondConf = confFor(station.address(), cluster.connectionString());
    firstConf.supervisionS = secondConf.supervisionS = 5;
    bool firstIsActive = false;
    QVERIFY(startBoth(first, firstConf, second, secondConf, &firstIsActive));
    LumariInstance &active = firstIsActive ? first : second;
    LumariInstance &standby = firstIsActive ? second : first;
    const auto activePort = quint16((firstIsActive ? firstConf : secondConf).tcpPort);
    const auto standbyPort = quint16((firstIsActive ? secondConf : firstConf).tcpPort);

    // Only the active hears the device, learns its MAC and reports it absent.
    TestDevice leaving(QByteArray::fromHex("0A0B0D"));
    QVERIFY(introduce(leaving, activePort, mac));
    leaving.disconnectFromHost();
    // Reported after the period, by an active that kept its lease all along.
    QVERIFY2(QTest::qWaitFor([&] { return station.acknowledgedEvents().contains(absence); }, kLineMs),
             qPrintable(active.dayLog()));
    active.kill();
    QVERIFY2(standby.waitForLog(kListening, kTakeoverMs + kSlackMs), qPrintable(standby.dayLog()));

    // The new active does not report the absence again; the device, back
    // with a new MAC, is restored, and the MAC it had is known.
    QTest::qWait(8000);
    TestDevice back(QByteArray::fromHex("0A0B0D"));
    QVERIFY(introduce(back, standbyPort, QByteArray::fromHex("0102030405060708")));
    QVERIFY(standby.waitForLog(QStringLiteral("new MAC 0102030405060708 (was 1112131415161718)"), kLineMs));
    QVERIFY(QTest::qWaitFor([&] { return station.acknowledgedEvents().contains(restore); }, kLineMs));
    QCOMPARE(station.acknowledgedEvents().count(absence), 1);
    QVERIFY2(!standby.dayLog().contains(QStringLiteral("Can not keep the state of the devices")),
             qPrintable(standby.dayLog()));
}

QTEST_GUILESS_MAIN(TestLumariStandby)
#include "tst_lumari_standby.moc"
