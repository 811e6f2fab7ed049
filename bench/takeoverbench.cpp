// How long a standby takes over from a killed active, over a series of
// kills. Two real programs share one throwaway PostgreSQL cluster; a device
// streams events to whichever of them listens, a listening station
// simulator answers their lines, and the active is killed (SIGKILL) at a
// random moment of the stream, then started again as the new standby, so
// that the two take turns.
//
//   bench_takeover [--kills 10]
//
// For each kill it prints how long after the killed active's last lease
// renewal (read from the lease's expiry in the database right after the
// kill) and after the kill itself the standby listened, and the first line
// after the kill reached the station; then min / median / max of each, the
// lines that came twice, and whether every acknowledged event arrived.

#include "listeningstation.h"
#include "lumariinstance.h"
#include "pgcluster.h"
#include "testdevice.h"

#include <QCoreApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <csignal>

namespace {

const QString kListening = QStringLiteral("Server start listening");
const QString kStandby = QStringLiteral("Standby: ");
const QString kActive = QStringLiteral("Active: this instance holds");
// The lease the program takes, as VelmoraLease's default timing has it.
constexpr qint64 kLeaseMs = 10000;
constexpr int kStartMs = 30000;
// A takeover that takes longer than this is counted as failed.
constexpr int kGiveUpMs = 60000;

struct Takeover
{
    double sinceRenewalListening = -1;
    double sinceKillListening = -1;
    double sinceRenewalDelivering = -1;
    double sinceKillDelivering = -1;
    int duplicates = 0;
};

// One device that sends events, each until it is acknowledged, to
// whichever port answers.
class StreamingDevice
{
public:
    explicit StreamingDevice(const QList<quint16> &ports) : ports(ports) {}

    // Sends the next event if it can; its line when acknowledged.
    void step()
    {
        if (!device) {
            const quint16 port = ports.at(next++ % ports.size());
            device = std::make_unique<TestDevice>(QByteArray::fromHex("123456"));
            if (!device->connectTo(port, 500) || device->readMacRequest(2000) != TestDevice::macRequest()) {
                device.reset();
                QThread::msleep(50);
                return;
            }
        }
        // Zone and group together keep every line of a long stream apart,
        // so that a line seen twice is one delivered twice.
        TestDevice::Event event;
        event.zone = quint16(sent & 0xFFFF);
        event.group = quint8(sent >> 16);
        if (!device->sendEvent(event) || device->readFrame(5000) != device->expectedAck()) {
            device.reset();
            return;
        }
        acknowledged << TestDevice::expectedLine(event);
        ++sent;
    }

    QList<QByteArray> acknowledged;

private:
    const QList<quint16> ports;
    std::unique_ptr<TestDevice> device;
    int next = 0;
    int sent = 1;
};

qint64 wallMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString statistics(std::vector<double> values)
{
    values.erase(std::remove(values.begin(), values.end(), -1.0), values.end());
    if (values.empty())
        return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 / %2 / %3")
        .arg(values.front() / 1000, 0, 'f', 2)
        .arg(values[values.size() / 2] / 1000, 0, 'f', 2)
        .arg(values.back() / 1000, 0, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Takeover times of a standby over a series of kills."));
    parser.addHelpOption();
    const QCommandLineOption killsOption(QStringLiteral("kills"), QStringLiteral("How many kills."),
                                         QStringLiteral("count"), QStringLiteral("10"));
    parser.addOption(killsOption);
    parser.process(application);
    const int kills = std::max(1, parser.value(killsOption).toInt());

    PgCluster cluster;
    QString why;
    if (!cluster.start(&why)) {
        std::fprintf(stderr, "no PostgreSQL cluster: %s\n", qPrintable(why));
        return 1;
    }
    ListeningStation station;
    if (!station.start(0)) {
        std::fprintf(stderr, "the station simulator did not start\n");
        return 1;
    }
    LumariInstance instances[2];
    SVelmoraConf confs[2];
    for (int index = 0; index < 2; ++index) {
        confs[index].tcpPort = LumariInstance::freePort();
        confs[index].comName = station.address();
        confs[index].keepAlive = 0;
        confs[index].journal = cluster.connectionString();
    }
    if (!instances[0].startListening(confs[0], kStartMs) || !instances[1].writeConf(confs[1]) ||
        !instances[1].start() || !instances[1].waitForLog(kStandby, kStartMs)) {
        std::fprintf(stderr, "the two programs did not start\n");
        return 1;
    }
    StreamingDevice device({quint16(confs[0].tcpPort), quint16(confs[1].tcpPort)});
    QSet<QByteArray> delivered;
    int deliveredCount = 0;
    std::vector<Takeover> takeovers;

    std::printf("%4s %-28s %-28s %s\n", "kill", "listening after (s)", "first line after (s)", "twice");
    std::printf("%4s %-13s %-14s %-13s %-14s\n", "", "renewal", "kill", "renewal", "kill");
    std::fflush(stdout);
    bool allRan = true;
    int active = 0;
    for (int kill = 0; kill < kills && allRan; ++kill) {
        LumariInstance &victim = instances[active];
        LumariInstance &standby = instances[1 - active];
        const QString standbyLog = standby.dayLog();
        const int listenedBefore = standbyLog.count(kListening);
        const int activeBefore = standbyLog.count(kActive);
        bool standbyActive = false;

        // A random moment of the stream, 1 to 3 s in.
        const int killAfterMs = QRandomGenerator::global()->bounded(1000, 3000);
        std::atomic<qint64> killedAt{0};
        const auto victimPid = static_cast<pid_t>(victim.pid());
        std::thread killer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(killAfterMs));
            killedAt.store(wallMs());
            ::kill(victimPid, SIGKILL);
        });
        Takeover takeover;
        qint64 lastRenewal = 0;
        QElapsedTimer sinceStart;
        sinceStart.start();
        while (takeover.sinceKillListening < 0 || takeover.sinceKillDelivering < 0) {
            // The station's output and the programs' ends are read here.
            QCoreApplication::processEvents();
            device.step();
            const qint64 killed = killedAt.load();
            if (killed != 0 && lastRenewal == 0) {
                // Before any standby can take the lease, its expiry still
                // tells when the victim renewed it last.
                QString expiry;
                if (cluster.sql(QStringLiteral("SELECT (extract(epoch FROM expires_at) * 1000)::bigint "
                                               "FROM lumari_lease WHERE id = 1"),
                                &expiry))
                    lastRenewal = expiry.toLongLong() - kLeaseMs;
            }
            // Lines the victim sent just before it died arrive first; only
            // the new active's count as delivered after the takeover.
            if (killed != 0 && (!standbyActive || takeover.sinceKillListening < 0)) {
                const QString log = standby.dayLog();
                standbyActive = log.count(kActive) > activeBefore;
                if (takeover.sinceKillListening < 0 && log.count(kListening) > listenedBefore)
                    takeover.sinceKillListening = double(wallMs() - killed);
            }
            for (const QByteArray &line : station.acknowledgedEvents().mid(deliveredCount)) {
                ++deliveredCount;
                if (delivered.contains(line))
                    ++takeover.duplicates;
                delivered.insert(line);
                if (standbyActive && takeover.sinceKillDelivering < 0)
                    takeover.sinceKillDelivering = double(wallMs() - killed);
            }
            if (sinceStart.elapsed() > killAfterMs + kGiveUpMs) {
                std::printf("%4d the standby did not take over within %d s\n", kill + 1, kGiveUpMs / 1000);
                allRan = false;
                break;
            }
        }
        killer.join();
        if (lastRenewal > 0) {
            const qint64 renewalBeforeKill = killedAt.load() - lastRenewal;
            if (takeover.sinceKillListening >= 0)
                takeover.sinceRenewalListening = takeover.sinceKillListening + double(renewalBeforeKill);
            if (takeover.sinceKillDelivering >= 0)
                takeover.sinceRenewalDelivering = takeover.sinceKillDelivering + double(renewalBeforeKill);
        }
        // Lines of the stream just after the takeover may still come twice.
        const qint64 settle = wallMs() + 1000;
        while (wallMs() < settle) {
            QCoreApplication::processEvents();
            device.step();
            for (const QByteArray &line : station.acknowledgedEvents().mid(deliveredCount)) {
                ++deliveredCount;
                if (delivered.contains(line))
                    ++takeover.duplicates;
                delivered.insert(line);
            }
        }
        takeovers.push_back(takeover);
        std::printf("%4d %-13.2f %-14.2f %-13.2f %-14.2f %d\n", kill + 1, takeover.sinceRenewalListening / 1000,
                    takeover.sinceKillListening / 1000, takeover.sinceRenewalDelivering / 1000,
                    takeover.sinceKillDelivering / 1000, takeover.duplicates);
        std::fflush(stdout);

        // The killed one comes back as the standby.
        victim.waitForExit(5000);
        const int standbyBefore = victim.dayLog().count(kStandby);
        if (!victim.start() || !victim.waitForLog(kStandby, kStartMs, standbyBefore + 1)) {
            std::printf("the killed program did not come back as standby\n");
            allRan = false;
        }
        active = 1 - active;
    }

    // Every acknowledged event reaches the station.
    QElapsedTimer drain;
    drain.start();
    int lost = 0;
    do {
        QThread::msleep(200);
        QCoreApplication::processEvents();
        const QList<QByteArray> lines = station.acknowledgedEvents();
        const QSet<QByteArray> arrived(lines.cbegin(), lines.cend());
        lost = int(std::count_if(device.acknowledged.cbegin(), device.acknowledged.cend(),
                                 [&](const QByteArray &line) { return !arrived.contains(line); }));
    } while (lost > 0 && drain.elapsed() < 20000);

    std::vector<double> renewalListening, killListening, renewalDelivering, killDelivering;
    int duplicates = 0;
    for (const Takeover &takeover : takeovers) {
        renewalListening.push_back(takeover.sinceRenewalListening);
        killListening.push_back(takeover.sinceKillListening);
        renewalDelivering.push_back(takeover.sinceRenewalDelivering);
        killDelivering.push_back(takeover.sinceKillDelivering);
        duplicates += takeover.duplicates;
    }
    std::printf("min / median / max over %d kills (s):\n", int(takeovers.size()));
    std::printf("  listening after the last renewal    %s\n", qPrintable(statistics(renewalListening)));
    std::printf("  listening after the kill            %s\n", qPrintable(statistics(killListening)));
    std::printf("  first line after the last renewal   %s\n", qPrintable(statistics(renewalDelivering)));
    std::printf("  first line after the kill           %s\n", qPrintable(statistics(killDelivering)));
    std::printf("events acknowledged %d, lines at the station %d, twice %d, lost %d\n",
                int(device.acknowledged.size()), deliveredCount, duplicates, lost);
    return allRan && lost == 0 ? 0 : 1;
}
