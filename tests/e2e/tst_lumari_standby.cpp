#include "listeningstation.h"
#include "lumariinstance.h"
#include "notifysocket.h"
#include "pgcluster.h"
#include "testdevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

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
// answers, each until it is acknowledged; their lines.
QList<QByteArray> sendAcknowledged(const QList<quint16> &ports, int count, quint16 firstZone, int timeoutMs)
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
            }
        }
        QTest::qWait(100);
    }
    return lines;
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
    void standbyTakesOverFromKilledActive();
    void activeCutFromDatabaseFencesItself();

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

void TestLumariStandby::standbyTakesOverFromKilledActive()
{
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
    QList<QByteArray> acknowledged = sendAcknowledged(ports, 20, 1, kLineMs);
    QCOMPARE(acknowledged.size(), 20);
    first.kill();
    QElapsedTimer sinceKill;
    sinceKill.start();
    QVERIFY2(second.waitForLog(kListening, kTakeoverMs + kSlackMs), qPrintable(second.dayLog()));
    qInfo("the standby listened %lld ms after the kill", sinceKill.elapsed());
    acknowledged += sendAcknowledged(ports, 10, 100, kLineMs);
    QCOMPARE(acknowledged.size(), 30);

    // Every acknowledged event reaches the station; a line in flight at the
    // kill may come twice, nothing more.
    QVERIFY(station.waitForAcknowledgedEvents(30, kLineMs));
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            const QList<QByteArray> delivered = station.acknowledgedEvents();
            return std::all_of(acknowledged.cbegin(), acknowledged.cend(),
                               [&](const QByteArray &line) { return delivered.contains(line); });
        }(),
        kLineMs);
    QVERIFY2(station.acknowledgedEvents().size() <= acknowledged.size() + 1,
             qPrintable(QStringLiteral("%1 lines for %2 events")
                            .arg(station.acknowledgedEvents().size())
                            .arg(acknowledged.size())));
}

void TestLumariStandby::activeCutFromDatabaseFencesItself()
{
    ListeningStation station;
    QVERIFY(station.start(0));
    LumariInstance first;
    LumariInstance second;
    const SVelmoraConf firstConf = confFor(station.address(), cluster.connectionString());
    const SVelmoraConf secondConf = confFor(station.address(), cluster.connectionString());
    // The lease of the previous test's killed active may still run: either
    // may become active first.
    QVERIFY(first.writeConf(firstConf) && first.start());
    QVERIFY(second.writeConf(secondConf) && second.start());
    QTRY_VERIFY_WITH_TIMEOUT(first.dayLog().contains(kListening) || second.dayLog().contains(kListening),
                             kTakeoverMs + kSlackMs);
    LumariInstance &active = first.dayLog().contains(kListening) ? first : second;
    LumariInstance &standby = &active == &first ? second : first;
    const auto activePort = quint16(&active == &first ? firstConf.tcpPort : secondConf.tcpPort);
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

QTEST_GUILESS_MAIN(TestLumariStandby)
#include "tst_lumari_standby.moc"
