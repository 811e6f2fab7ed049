// What the Devices window costs the network thread, at 100, 1,000 and
// 10,000 connected devices.
//
//   bench_devices [--devices 100,1000,10000] [--rounds 500]
//
// For each count it prints: how long one snapshot takes from the request to
// its arrival in the GUI thread, and how long the window's model takes to
// take it in; then the p50 and p99 from a periodic test frame to its ACK on
// one device while nobody asks for snapshots (the baseline), and again while
// snapshots are asked for back to back, far more often than the window's
// once a second, with the ratio of each to the baseline. Per-frame work does
// not depend on the number of connections; only the snapshot does.
//
// The devices are plain blocking sockets in a thread of their own; each has
// sent a MAC reply and a periodic test, so that every row is filled in.

#include "svelmoradevicesnapshot.h"
#include "velmoradevicesmodel.h"
#include "velmoraframe.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFrameSize = 24;
constexpr int kSnapshotSamples = 10;

// A device frame as a device builds it: header, ID, four zero bytes, type,
// data, checksum over the length bytes and the payload, tail.
QByteArray deviceFrame(quint32 id, quint16 type, const QByteArray &data)
{
    QByteArray payload = QByteArray::fromHex("000000000101");
    payload.append(char(id >> 16)).append(char(id >> 8)).append(char(id));
    payload.append(QByteArray(4, '\0')).append(char(type >> 8)).append(char(type)).append(data);
    const int length = payload.size() + 1;
    quint8 sum = quint8((length >> 8) + (length & 0xFF));
    for (char byte : qAsConst(payload))
        sum = quint8(sum + quint8(byte));
    payload.append(char(sum));
    QByteArray frame = QByteArray::fromHex("4DD400");
    frame.append(char(length >> 8)).append(char(length & 0xFF));
    return frame + payload + QByteArray::fromHex("4C0D0A");
}

bool readExactly(int fd, int size)
{
    char buffer[256];
    while (size > 0) {
        const ssize_t got = ::read(fd, buffer, std::min<size_t>(sizeof buffer, size_t(size)));
        if (got <= 0)
            return false;
        size -= int(got);
    }
    return true;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

// Both ends of every connection live in this process. Returns the limit
// in force.
rlim_t raiseDescriptorLimit(int connections)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t wanted = rlim_t(2 * connections + 256);
    rlimit raised = limit;
    raised.rlim_max = std::max(limit.rlim_max, wanted); // allowed for root only
    raised.rlim_cur = std::max(limit.rlim_cur, wanted);
    if (setrlimit(RLIMIT_NOFILE, &raised) != 0) {
        limit.rlim_cur = std::max(limit.rlim_cur, std::min(wanted, limit.rlim_max));
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    getrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur;
}

int connectDevice(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A server out of descriptors never answers; the count is then short.
    const timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

double percentile(std::vector<double> values, int percent)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(percent) / 100)];
}

// One snapshot, from the request to its arrival in this thread, in ms.
double snapshotRoundTrip(VelmoraNetworkThread &thread, SVelmoraDeviceSnapshot *snapshot)
{
    QEventLoop loop;
    const QMetaObject::Connection connection = QObject::connect(
        thread.worker(), &VelmoraNetworkServer::deviceSnapshotSignal, &loop,
        [&](const SVelmoraDeviceSnapshot &taken) {
            *snapshot = taken;
            loop.quit();
        },
        Qt::QueuedConnection);
    QElapsedTimer timer;
    timer.start();
    QMetaObject::invokeMethod(thread.worker(), &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
    loop.exec();
    QObject::disconnect(connection);
    return double(timer.nsecsElapsed()) / 1e6;
}

struct AckFigures
{
    double p50 = -1;
    double p99 = -1;
};

// Test frame to ACK on one device, rounds times, in ms.
AckFigures ackLatency(int fd, int rounds)
{
    const QByteArray frame = deviceFrame(0xABCDEF, 0x0003, QByteArray());
    std::vector<double> samples;
    samples.reserve(size_t(rounds));
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer timer;
        timer.start();
        if (!writeAll(fd, frame) || !readExactly(fd, kFrameSize))
            break;
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return {percentile(samples, 50), percentile(samples, 99)};
}

void measure(int count, int rounds)
{
    VelmoraNetworkThread thread;
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    thread.startWorker();
    VelmoraNetworkServer *server = thread.worker();
    server->setListenAddress(QStringLiteral("127.0.0.1"), port);
    QMetaObject::invokeMethod(server, &VelmoraNetworkServer::startSlot, Qt::QueuedConnection);

    std::vector<int> devices;
    devices.reserve(size_t(count));
    QElapsedTimer waited;
    waited.start();
    while (devices.size() < size_t(count) && waited.elapsed() < 60000) {
        const int fd = connectDevice(port);
        if (fd < 0) {
            QThread::msleep(10);
            continue;
        }
        const quint32 id = quint32(devices.size());
        if (!readExactly(fd, kFrameSize)
            || !writeAll(fd, deviceFrame(id, 0x0090, QByteArray::fromHex("01020304050607080000")))
            || !readExactly(fd, kFrameSize) || !writeAll(fd, deviceFrame(id, 0x0003, QByteArray()))
            || !readExactly(fd, kFrameSize)) {
            ::close(fd);
            break;
        }
        devices.push_back(fd);
    }
    if (devices.size() < size_t(count)) {
        std::printf("%7d only %d devices connected\n", count, int(devices.size()));
    } else {
        std::vector<double> snapshotMs;
        std::vector<double> modelMs;
        VelmoraDevicesModel model;
        SVelmoraDeviceSnapshot snapshot;
        for (int sample = 0; sample < kSnapshotSamples; ++sample) {
            snapshotMs.push_back(snapshotRoundTrip(thread, &snapshot));
            QElapsedTimer timer;
            timer.start();
            model.setSnapshot(snapshot);
            modelMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        }

        const AckFigures quiet = ackLatency(devices.front(), rounds);
        // Snapshots asked for back to back from another thread while the
        // device sends.
        std::atomic<bool> asking{true};
        std::atomic<int> asked{0};
        AckFigures busy;
        std::thread sender([&] {
            busy = ackLatency(devices.front(), rounds);
            asking = false;
        });
        while (asking) {
            snapshotRoundTrip(thread, &snapshot);
            ++asked;
        }
        sender.join();
        std::printf("%7d %9d %13.2f %10.2f %15.3f %15.3f %17.3f (%.2fx) %17.3f (%.2fx) %6d\n", count,
                    int(snapshot.connected.size()), percentile(snapshotMs, 50), percentile(modelMs, 50), quiet.p50,
                    quiet.p99, busy.p50, busy.p50 / quiet.p50, busy.p99, busy.p99 / quiet.p99, asked.load());
    }
    for (int fd : devices)
        ::close(fd);
    QMetaObject::invokeMethod(server, &VelmoraNetworkServer::stopSlot, Qt::QueuedConnection);
    thread.quit();
    thread.wait();
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption devicesOption(QStringLiteral("devices"), QStringLiteral("Counts of devices, comma separated."),
                                           QStringLiteral("list"), QStringLiteral("100,1000,10000"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("ACK round trips per figure."),
                                          QStringLiteral("count"), QStringLiteral("500"));
    parser.addOption(devicesOption);
    parser.addOption(roundsOption);
    parser.process(application);

    QTemporaryDir logDirectory;
    VelmoraCommon_LogInit(logDirectory.path() + QLatin1Char('/'), kLogError);
    registerVelmoraDeviceSnapshotType();
    const int rounds = std::max(10, parser.value(roundsOption).toInt());
    QVector<int> counts;
    for (const QString &text : parser.value(devicesOption).split(QLatin1Char(','), Qt::SkipEmptyParts))
        counts << std::max(1, text.toInt());
    const rlim_t descriptors = raiseDescriptorLimit(*std::max_element(counts.cbegin(), counts.cend()));
    std::printf("descriptor limit %llu: at most about %llu devices in this one process\n",
                static_cast<unsigned long long>(descriptors), static_cast<unsigned long long>(descriptors / 2 - 128));

    std::printf("%7s %9s %13s %10s %15s %15s %25s %25s %6s\n", "devices", "rows", "snapshot ms", "model ms",
                "ACK p50 ms", "ACK p99 ms", "ACK p50 ms, snapshots", "ACK p99 ms, snapshots", "asked");
    for (int count : qAsConst(counts))
        measure(count, rounds);
    return 0;
}
