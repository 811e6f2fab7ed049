// Prints the time from a device's frame to the converter's ACK, with the
// event journal in place and without it, for one device and for many devices
// sending at the same moment.
//
//   bench_ack [--devices N] [--rounds R] [--pause-ms MS] [--dir DIRECTORY]
//
// The network thread runs as in the program. The devices are plain
// non-blocking sockets driven by poll() in the benchmark's own thread, so
// every ACK is timed when it arrives, not when the benchmark gets round to
// reading it. The journal lives beside the program by default, on the disk
// spool/ uses; a tmpfs would make its flushes free.

#include "velmoraeventjournal.h"
#include "velmoralog.h"
#include "velmoranetworkthread.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFrameSize = 24;
constexpr int kReplyTimeoutMs = 5000;

// A plain alarm event of device 12 34 56 (account 001234, event 1130, group
// 01, zone 005), the way a device sends it.
const QByteArray kEventFrame = QByteArray::fromHex(
    "4DD400001A000000000101123456000000000004001800123411300100056 14C0D0A");

struct Figures
{
    double median = 0;
    double p99 = 0;
    double max = 0;
    int frames = 0;
    int missing = 0;
};

class Devices
{
public:
    ~Devices()
    {
        for (int fd : sockets)
            ::close(fd);
    }

    // Connects and reads away the MAC request each connection starts with.
    bool connectAll(int count, quint16 port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
                return false;
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            sockets.push_back(fd);
            if (readFrame(fd).size() != kFrameSize)
                return false;
        }
        for (int fd : sockets)
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // Every device sends one frame at the same moment; each ACK is timed as
    // it arrives.
    void round(std::vector<double> &latencies, int &missing)
    {
        QElapsedTimer clock;
        clock.start();
        std::vector<qint64> sentAt(sockets.size());
        std::vector<int> received(sockets.size(), 0);
        for (size_t i = 0; i < sockets.size(); ++i) {
            sentAt[i] = clock.nsecsElapsed();
            if (::send(sockets[i], kEventFrame.constData(), static_cast<size_t>(kEventFrame.size()), 0) != kEventFrame.size())
                received[i] = -1;
        }
        size_t done = 0;
        std::vector<pollfd> polls(sockets.size());
        while (done < sockets.size() && clock.elapsed() < kReplyTimeoutMs) {
            for (size_t i = 0; i < sockets.size(); ++i)
                polls[i] = {received[i] >= 0 && received[i] < kFrameSize ? sockets[i] : -1, POLLIN, 0};
            if (::poll(polls.data(), polls.size(), 100) <= 0)
                continue;
            const qint64 now = clock.nsecsElapsed();
            for (size_t i = 0; i < sockets.size(); ++i) {
                if (!(polls[i].revents & POLLIN))
                    continue;
                char buffer[kFrameSize];
                const ssize_t count = ::recv(sockets[i], buffer, static_cast<size_t>(kFrameSize - received[i]), 0);
                if (count <= 0)
                    continue;
                received[i] += static_cast<int>(count);
                if (received[i] == kFrameSize) {
                    latencies.push_back((now - sentAt[i]) / 1e6);
                    ++done;
                }
            }
        }
        missing += static_cast<int>(sockets.size() - done);
    }

private:
    static QByteArray readFrame(int fd)
    {
        QByteArray frame;
        char buffer[kFrameSize];
        while (frame.size() < kFrameSize) {
            pollfd one{fd, POLLIN, 0};
            if (::poll(&one, 1, kReplyTimeoutMs) <= 0)
                break;
            const ssize_t count = ::recv(fd, buffer, static_cast<size_t>(kFrameSize - frame.size()), 0);
            if (count <= 0)
                break;
            frame.append(buffer, static_cast<int>(count));
        }
        return frame;
    }

    std::vector<int> sockets;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool measure(const QString &directory, bool withJournal, bool withDayLog, int deviceCount, int rounds, int pauseMs,
             Figures &figures)
{
    QTemporaryDir work(directory + QStringLiteral("/bench_ack-XXXXXX"));
    if (!work.isValid())
        return false;
    // Threshold 0 turns the day log off, to show what its lines cost.
    VelmoraCommon_LogInit(work.path() + QStringLiteral("/"), withDayLog ? 4 : 0);
    VelmoraEventJournal journal(work.path() + QStringLiteral("/spool"));
    if (withJournal && !journal.open())
        return false;

    const quint16 port = freePort();
    VelmoraNetworkThread thread;
    thread.setAddress(QStringLiteral("127.0.0.1"));
    thread.setPort(port);
    if (withJournal)
        thread.setEventStore(&journal);
    thread.start();
    if (!thread.waitUntilReady())
        return false;
    thread.networkStartSlot();
    QThread::msleep(200);

    std::vector<double> latencies;
    {
        Devices devices;
        if (!devices.connectAll(deviceCount, port))
            return false;
        // One round to warm up, not counted.
        int ignored = 0;
        std::vector<double> warmUp;
        devices.round(warmUp, ignored);
        for (int r = 0; r < rounds; ++r) {
            // With a pause each round is one burst on an idle converter;
            // without, the next burst meets the previous one's log lines.
            QThread::msleep(static_cast<unsigned long>(pauseMs));
            devices.round(latencies, figures.missing);
        }
    }
    thread.networkStopSlot();
    thread.quit();
    thread.wait();
    // Events of the network thread that nobody consumed.
    QCoreApplication::processEvents();

    std::sort(latencies.begin(), latencies.end());
    figures.frames = static_cast<int>(latencies.size());
    if (!latencies.empty()) {
        figures.median = latencies[latencies.size() / 2];
        figures.p99 = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
        figures.max = latencies.back();
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    registerVelmoraMsgType();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Times device frame to ACK on this machine."));
    parser.addHelpOption();
    const QCommandLineOption devicesOption(QStringLiteral("devices"), QStringLiteral("Devices sending at once."),
                                           QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption roundsOption(QStringLiteral("rounds"), QStringLiteral("Frames each device sends."),
                                          QStringLiteral("n"), QStringLiteral("30"));
    const QCommandLineOption directoryOption(QStringLiteral("dir"), QStringLiteral("Directory for the journal."),
                                             QStringLiteral("directory"), QCoreApplication::applicationDirPath());
    const QCommandLineOption pauseOption(QStringLiteral("pause-ms"),
                                         QStringLiteral("Pause between bursts; 0 keeps the converter busy."),
                                         QStringLiteral("ms"), QStringLiteral("0"));
    parser.addOptions({devicesOption, roundsOption, directoryOption, pauseOption});
    parser.process(application);
    const int devices = std::max(1, parser.value(devicesOption).toInt());
    const int rounds = std::max(1, parser.value(roundsOption).toInt());
    const int pauseMs = std::max(0, parser.value(pauseOption).toInt());

    struct Row
    {
        bool journal;
        bool dayLog;
        int devices;
    };
    const Row rows[] = {
        {false, true, 1}, {false, true, devices}, {true, true, 1}, {true, true, devices}, {true, false, devices},
    };
    std::printf("%-8s %-8s %8s %8s %10s %10s %10s %8s\n", "journal", "day log", "devices", "frames", "median ms",
                "p99 ms", "max ms", "missing");
    bool allRan = true;
    for (const Row &row : rows) {
        const char *journal = row.journal ? "on disk" : "none";
        const char *dayLog = row.dayLog ? "on" : "off";
        Figures figures;
        if (!measure(parser.value(directoryOption), row.journal, row.dayLog, row.devices, rounds, pauseMs, figures)) {
            std::printf("%-8s %-8s %8d  could not run\n", journal, dayLog, row.devices);
            allRan = false;
            continue;
        }
        std::printf("%-8s %-8s %8d %8d %10.2f %10.2f %10.2f %8d\n", journal, dayLog, row.devices, figures.frames,
                    figures.median, figures.p99, figures.max, figures.missing);
        std::fflush(stdout);
    }
    return allRan ? 0 : 1;
}
