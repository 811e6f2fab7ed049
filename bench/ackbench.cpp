// Compares the converter's network thread with a minimal epoll server that
// does only the wire work (the MAC request on connect, a 24-byte ACK per
// frame, no journal, no log), at 100, 1,000 and 10,000 connections.
//
//   bench_ack [--devices 100,1000,10000] [--journal [--postgres]] [--dir DIRECTORY]
//             [--supervision SECONDS] [--status] [--pairs N]
//
// With --supervision the converter runs a second time in the same run with
// every device listed in a device list (only listed devices may report) and
// supervised with that period, its device state kept in its spool; that row
// ends with the supervision check's cost in microseconds per second. With
// --pairs N, N such off/on pairs are taken in turns; each pair's burst p99
// and CPU ratios are printed, then the median of each.
//
// For each count and server it prints: the time until every device has its
// MAC request when all connect at once; the p50 and p99 from frame to ACK
// when every device sends one event at the same moment (after a first such
// burst, the devices' first contact, whose p99 is kept apart: what a server
// learns of a device it has never seen is a one-off); the highest steady
// rate at which p99 stays under 50 ms; the CPU time the server spends per
// 1,000 frames at 1,000 frames/s (the lowest of three windows: what else
// the machine does only ever adds to it); and the memory each connection costs once
// it has been used. Each figure of the converter is followed by its ratio to
// the epoll server.
//
// Each measurement runs in a child process of its own, so that neither
// server inherits the other's heap or descriptors, and that child forks the
// devices into a process of their own: the device side's CPU time, memory
// and descriptors never count for the server. The devices ask the server
// process for its CPU time and resident memory over a socket pair whenever
// a figure needs them.
//
// With --status the converter is measured a second time with its status
// endpoint listening on loopback, as a monitored service runs: a scraper
// thread fetches /metrics every second and /status.json every 3 s (the
// operator's page left open), and the endpoint asks the network thread for
// its device snapshot as it does while it listens. The burst p99 with the
// endpoint on is printed against the one with it off, from the same run;
// with --pairs N, N such pairs taken in turns and the median of their ratios.
//
// With --postgres the converter is measured a second time with its journal
// in PostgreSQL (a throwaway cluster on loopback, holding the lease as the
// active instance does) instead of on disk; its row's ratios are to the
// disk journal's row, and the burst p99 and steady rate of the two are
// compared, over --pairs N pairs taken in turns.

#include "pgcluster.h"
#include "velmoraclock.h"
#include "velmoradevicelist.h"
#include "velmoradevicestatefile.h"
#include "velmoradevicesupervisor.h"
#include "velmoraeventjournal.h"
#include "velmoraframe.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"
#include "velmorasharedjournal.h"
#include "velmorastatusendpoint.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QMap>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>

#include <httplib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kFrameSize = 24;
constexpr int kMacTimeoutMs = 20000;
constexpr int kBurstTimeoutMs = 15000;
constexpr int kBurstRounds = 3;
constexpr double kSteadyP99LimitMs = 50;
constexpr int kSteadyStepMs = 1500;
constexpr int kSteadyFirstRate = 500;
constexpr int kSteadyLastRate = 64000;
constexpr int kCpuRate = 1000;
constexpr int kCpuSeconds = 2;
constexpr int kCpuWindows = 3;
// The epoll server's own receive buffer per connection.
constexpr int kBaselineBufferSize = 4096;
constexpr int kScrapeIntervalMs = 1000;
constexpr int kPageRefreshMs = 3000;

// A plain alarm event of device 12 34 56 (account 001234, event 1130, group
// 01, zone 005), the way a device sends it.
const QByteArray kEventFrame =
    QByteArray::fromHex("4DD400001A00000000010112345600000000000400180012341130010005614C0D0A");

// The event as device number index sends it: each device has an ID of its
// own, as the backlog's limits count events per device.
QByteArray eventFrameOf(size_t index)
{
    QByteArray frame = kEventFrame;
    auto *bytes = reinterpret_cast<quint8 *>(frame.data());
    quint8 *id = bytes + VelmoraFrame::kPayloadOffset + VelmoraFrame::kIdOffset;
    id[0] = quint8(index >> 16);
    id[1] = quint8(index >> 8);
    id[2] = quint8(index);
    const int length = (bytes[VelmoraFrame::kLengthOffset] << 8) | bytes[VelmoraFrame::kLengthOffset + 1];
    bytes[VelmoraFrame::kPayloadOffset + length - 1] =
        VelmoraFrame::calcCrc(bytes + VelmoraFrame::kLengthOffset, length + 1);
    return frame;
}

qint64 nowNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double cpuSeconds(clockid_t clock)
{
    timespec used{};
    clock_gettime(clock, &used);
    return double(used.tv_sec) + used.tv_nsec / 1e9;
}

qint64 residentBytes()
{
    FILE *statm = std::fopen("/proc/self/statm", "r");
    long size = 0;
    long resident = 0;
    if (statm) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return qint64(resident) * sysconf(_SC_PAGESIZE);
}

// One end of every connection lives in each process, beside a few files.
bool raiseDescriptorLimit(int connections)
{
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    const rlim_t wanted = rlim_t(connections + 256);
    if (limit.rlim_max < wanted)
        limit.rlim_max = wanted; // allowed for root only
    limit.rlim_cur = std::max<rlim_t>(limit.rlim_cur, std::min(wanted, limit.rlim_max));
    return setrlimit(RLIMIT_NOFILE, &limit) == 0 || getrlimit(RLIMIT_NOFILE, &limit) != 0
        || limit.rlim_cur >= wanted;
}

double percentile(std::vector<double> values, int percent)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, values.size() * size_t(percent) / 100)];
}

// ---- the baseline: the wire work and nothing else ---------------------

class EpollServer
{
public:
    ~EpollServer()
    {
        if (worker.joinable()) {
            const quint64 one = 1;
            if (::write(stopFd, &one, sizeof one) < 0)
                std::perror("eventfd");
            worker.join();
        }
        for (Connection *connection : connections)
            delete connection;
        for (int fd : {listenFd, epollFd, stopFd}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    // Listens on a free loopback port; 0 on failure.
    quint16 start()
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listenFd < 0 || ::bind(listenFd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(listenFd, SOMAXCONN) != 0
            || ::getsockname(listenFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return 0;
        epollFd = ::epoll_create1(0);
        stopFd = ::eventfd(0, EFD_NONBLOCK);
        epoll_event listenEvent{EPOLLIN, {nullptr}};
        epoll_event stopEvent{EPOLLIN, {&stopFd}};
        if (epollFd < 0 || stopFd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, listenFd, &listenEvent) != 0
            || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, stopFd, &stopEvent) != 0)
            return 0;
        worker = std::thread([this] { run(); });
        return ntohs(address.sin_port);
    }

private:
    struct Connection
    {
        int fd = -1;
        int used = 0;
        char buffer[kBaselineBufferSize];
    };

    void run()
    {
        epoll_event events[256];
        for (;;) {
            const int ready = ::epoll_wait(epollFd, events, 256, -1);
            for (int i = 0; i < ready; ++i) {
                if (events[i].data.ptr == &stopFd)
                    return;
                if (!events[i].data.ptr)
                    acceptAll();
                else
                    readFrom(static_cast<Connection *>(events[i].data.ptr));
            }
        }
    }

    void acceptAll()
    {
        const QByteArray macRequest = VelmoraFrame::macRequest();
        for (;;) {
            const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK);
            if (fd < 0)
                return;
            auto *connection = new Connection;
            connection->fd = fd;
            connections.push_back(connection);
            epoll_event event{EPOLLIN, {connection}};
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
            if (::send(fd, macRequest.constData(), kFrameSize, MSG_NOSIGNAL) != kFrameSize)
                std::fputs("epoll server: MAC request not sent\n", stderr);
        }
    }

    void readFrom(Connection *connection)
    {
        const ssize_t count = ::recv(connection->fd, connection->buffer + connection->used,
                                     size_t(kBaselineBufferSize - connection->used), 0);
        if (count <= 0) {
            if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                ::epoll_ctl(epollFd, EPOLL_CTL_DEL, connection->fd, nullptr);
                ::close(connection->fd);
                connection->fd = -1;
            }
            return;
        }
        connection->used += int(count);
        int front = 0;
        while (connection->used - front >= VelmoraFrame::kPayloadOffset) {
            const auto *frame = reinterpret_cast<const quint8 *>(connection->buffer + front);
            const int size = (frame[VelmoraFrame::kLengthOffset] << 8 | frame[VelmoraFrame::kLengthOffset + 1])
                + VelmoraFrame::kOverhead;
            if (size > kBaselineBufferSize) {
                front = connection->used;
                break;
            }
            if (connection->used - front < size)
                break;
            const quint8 *id = frame + VelmoraFrame::kPayloadOffset + VelmoraFrame::kIdOffset;
            const QByteArray ack = VelmoraFrame::ack({id[0], id[1], id[2]});
            if (::send(connection->fd, ack.constData(), kFrameSize, MSG_NOSIGNAL) != kFrameSize)
                std::fputs("epoll server: ACK not sent\n", stderr);
            front += size;
        }
        std::memmove(connection->buffer, connection->buffer + front, size_t(connection->used - front));
        connection->used -= front;
    }

    int listenFd = -1;
    int epollFd = -1;
    int stopFd = -1;
    std::vector<Connection *> connections;
    std::thread worker;
};

// ---- the devices ------------------------------------------------------

struct Figures
{
    double macSeconds = -1;
    int macMissing = 0;
    double burstP50 = -1;
    double burstP99 = -1;
    // The first burst: every device's first frame.
    double firstBurstP99 = -1;
    int burstMissing = 0;
    int steadyRate = 0;
    bool steadyCapped = false;
    double cpuMsPer1000 = -1;
    double kbPerConnection = -1;
    // With supervision: the mean time of one check, run once a second.
    double checkUsPerSecond = -1;
};

// What the devices learn of the server process at one moment.
struct ServerSample
{
    double cpuSeconds = 0;
    qint64 residentBytes = 0;
};

constexpr char kSampleRequest = 'S';
constexpr char kFiguresFollow = 'F';

bool writeFully(int fd, const void *data, size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

bool readFully(int fd, void *data, size_t size)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got;
        size -= size_t(got);
    }
    return true;
}

// The device process's end of the socket pair to the server process.
class ServerProbe
{
public:
    explicit ServerProbe(int fd)
        : fd(fd)
    {
    }

    ServerSample sample() const
    {
        ServerSample result;
        if (!writeFully(fd, &kSampleRequest, 1) || !readFully(fd, &result, sizeof result))
            std::fputs("devices: the server process does not answer\n", stderr);
        return result;
    }

    bool sendFigures(const Figures &figures) const
    {
        return writeFully(fd, &kFiguresFollow, 1) && writeFully(fd, &figures, sizeof figures);
    }

private:
    int fd = -1;
};

// The server process's end: answers samples until the figures come.
bool answerProbes(int fd, Figures &figures)
{
    char request = 0;
    while (readFully(fd, &request, 1)) {
        if (request == kFiguresFollow)
            return readFully(fd, &figures, sizeof figures);
        ServerSample sample;
        sample.cpuSeconds = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
        sample.residentBytes = residentBytes();
        if (!writeFully(fd, &sample, sizeof sample))
            return false;
    }
    return false;
}

class Devices
{
public:
    explicit Devices(int count)
        : fds(size_t(count), -1)
        , received(size_t(count), 0)
        , sentAt(size_t(count), 0)
        , waiting(size_t(count), false)
    {
        frames.reserve(size_t(count));
        for (size_t i = 0; i < size_t(count); ++i)
            frames.push_back(eventFrameOf(i));
        epollFd = ::epoll_create1(0);
    }

    ~Devices()
    {
        for (int fd : fds) {
            if (fd >= 0)
                ::close(fd);
        }
        ::close(epollFd);
    }

    // All connect at once; seconds until the last MAC request arrived.
    double connectAll(quint16 port, int &missing)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const qint64 start = nowNs();
        for (size_t i = 0; i < fds.size(); ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (fd < 0)
                continue;
            const int on = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
                ::close(fd);
                continue;
            }
            fds[i] = fd;
            epoll_event event{EPOLLIN, {}};
            event.data.u64 = i;
            ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event);
            waiting[i] = true;
            ++waitingCount;
        }
        const qint64 last = awaitReplies(start, kMacTimeoutMs, nullptr);
        missing = outstanding();
        clearWaiting();
        return (last - start) / 1e9;
    }

    // Every device sends one frame; each reply is timed from its own send.
    void burst(std::vector<double> &latencies, int &missing)
    {
        const qint64 start = nowNs();
        for (size_t i = 0; i < fds.size(); ++i)
            send(i);
        awaitReplies(start, kBurstTimeoutMs, &latencies);
        missing += outstanding();
        clearWaiting();
    }

    // Frames spread evenly over time and over the devices; false when some
    // reply did not come back.
    bool steady(int rate, int durationMs, std::vector<double> &latencies)
    {
        const qint64 interval = 1000000000LL / rate;
        const qint64 start = nowNs();
        const qint64 end = start + qint64(durationMs) * 1000000;
        qint64 nextSend = start;
        size_t next = 0;
        epoll_event events[256];
        for (;;) {
            const qint64 now = nowNs();
            if (now >= end)
                break;
            while (nextSend <= now) {
                // A device still waiting for its ACK does not send again.
                for (size_t tried = 0; tried < fds.size() && waiting[next]; ++tried)
                    next = (next + 1) % fds.size();
                if (!waiting[next])
                    send(next);
                next = (next + 1) % fds.size();
                nextSend += interval;
            }
            const int timeoutMs = int(std::max<qint64>(0, (nextSend - nowNs()) / 1000000));
            const int ready = ::epoll_wait(epollFd, events, 256, timeoutMs);
            receive(events, ready, &latencies);
        }
        awaitReplies(end, kBurstTimeoutMs, &latencies);
        const bool complete = outstanding() == 0;
        clearWaiting();
        return complete;
    }

private:
    void send(size_t i)
    {
        if (fds[i] < 0)
            return;
        sentAt[i] = nowNs();
        received[i] = 0;
        waiting[i] = ::send(fds[i], frames[i].constData(), size_t(frames[i].size()), MSG_NOSIGNAL)
            == frames[i].size();
        waitingCount += waiting[i] ? 1 : 0;
    }

    void receive(const epoll_event *events, int ready, std::vector<double> *latencies)
    {
        const qint64 now = nowNs();
        for (int e = 0; e < ready; ++e) {
            const size_t i = events[e].data.u64;
            char buffer[kFrameSize];
            const ssize_t count = ::recv(fds[i], buffer, size_t(kFrameSize - received[i]), 0);
            if (count <= 0) {
                if (count == 0 || (errno != EAGAIN && errno != EINTR)) {
                    ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fds[i], nullptr);
                    ::close(fds[i]);
                    fds[i] = -1;
                }
                continue;
            }
            received[i] += int(count);
            if (received[i] == kFrameSize && waiting[i]) {
                waiting[i] = false;
                --waitingCount;
                received[i] = 0;
                ++repliesSeen;
                if (latencies)
                    latencies->push_back((now - sentAt[i]) / 1e6);
            }
        }
    }

    // Time of the last reply.
    qint64 awaitReplies(qint64 start, int timeoutMs, std::vector<double> *latencies)
    {
        qint64 last = start;
        epoll_event events[256];
        while (outstanding() > 0 && nowNs() - start < qint64(timeoutMs) * 1000000) {
            const int before = repliesSeen;
            receive(events, ::epoll_wait(epollFd, events, 256, 100), latencies);
            if (repliesSeen != before)
                last = nowNs();
        }
        return last;
    }

    // Counted as they change, not by a scan: a scan of every device after
    // each wake-up would make the devices' side slower than the servers.
    int outstanding() const { return waitingCount; }

    void clearWaiting()
    {
        std::fill(waiting.begin(), waiting.end(), false);
        waitingCount = 0;
        std::fill(received.begin(), received.end(), 0);
    }

    int epollFd = -1;
    int repliesSeen = 0;
    int waitingCount = 0;
    std::vector<int> fds;
    std::vector<int> received;
    std::vector<qint64> sentAt;
    std::vector<bool> waiting;
    std::vector<QByteArray> frames;
};

void drive(quint16 port, int count, const ServerProbe &server, Figures &figures)
{
    Devices devices(count);
    const ServerSample beforeConnecting = server.sample();
    figures.macSeconds = devices.connectAll(port, figures.macMissing);

    std::vector<double> firstLatencies;
    QThread::msleep(300);
    devices.burst(firstLatencies, figures.burstMissing);
    figures.firstBurstP99 = percentile(firstLatencies, 99);
    std::vector<double> latencies;
    latencies.reserve(size_t(count) * kBurstRounds);
    for (int round = 0; round < kBurstRounds; ++round) {
        QThread::msleep(300);
        devices.burst(latencies, figures.burstMissing);
    }
    figures.burstP50 = percentile(latencies, 50);
    figures.burstP99 = percentile(latencies, 99);
    QThread::msleep(500);
    figures.kbPerConnection = (server.sample().residentBytes - beforeConnecting.residentBytes) / 1024.0 / count;

    for (int window = 0; window < kCpuWindows; ++window) {
        const ServerSample beforeSteady = server.sample();
        std::vector<double> cpuLatencies;
        const bool cpuComplete = devices.steady(kCpuRate, kCpuSeconds * 1000, cpuLatencies);
        const double serverSeconds = server.sample().cpuSeconds - beforeSteady.cpuSeconds;
        if (!cpuComplete || cpuLatencies.empty())
            continue;
        const double msPer1000 = serverSeconds * 1000 / (cpuLatencies.size() / 1000.0);
        if (figures.cpuMsPer1000 < 0 || msPer1000 < figures.cpuMsPer1000)
            figures.cpuMsPer1000 = msPer1000;
    }

    for (int rate = kSteadyFirstRate; rate <= kSteadyLastRate; rate *= 2) {
        QThread::msleep(300);
        std::vector<double> steadyLatencies;
        if (!devices.steady(rate, kSteadyStepMs, steadyLatencies)
            || percentile(steadyLatencies, 99) > kSteadyP99LimitMs)
            return;
        figures.steadyRate = rate;
        figures.steadyCapped = rate * 2 > kSteadyLastRate;
    }
}

// The device process: waits for the server's port, drives the devices and
// hands the figures back. Never returns.
[[noreturn]] void runDevices(int controlFd, int count)
{
    quint16 port = 0;
    Figures figures;
    const ServerProbe server(controlFd);
    if (readFully(controlFd, &port, sizeof port) && port != 0)
        drive(port, count, server, figures);
    _exit(server.sendFigures(figures) ? 0 : 1);
}

// ---- one measurement in a child process -------------------------------

// The device list of the devices as eventFrameOf() numbers them.
bool writeDeviceList(const QString &path, int count)
{
    QVector<SVelmoraDeviceListRow> rows;
    rows.reserve(count);
    for (int index = 0; index < count; ++index) {
        SVelmoraDeviceListRow row;
        row.deviceId = QStringLiteral("%1").arg(index, 6, 16, QLatin1Char('0')).toUpper();
        rows << row;
    }
    QFile file(path);
    const QByteArray bytes = VelmoraDeviceList::toCsv(rows, QLatin1Char(','));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Fetches /metrics every second and /status.json every 3 s until stopped,
// as Prometheus and an open status page do.
class StatusScraper
{
public:
    explicit StatusScraper(quint16 port)
        : worker([this, port] { run(port); })
    {
    }
    ~StatusScraper()
    {
        stopping = true;
        worker.join();
    }
    int failures() const { return failed; }

private:
    void run(quint16 port)
    {
        httplib::Client client("127.0.0.1", port);
        client.set_read_timeout(5, 0);
        for (int tick = 0; !stopping; ++tick) {
            if (!client.Get("/metrics"))
                ++failed;
            if (tick % (kPageRefreshMs / kScrapeIntervalMs) == 0 && !client.Get("/status.json"))
                ++failed;
            for (int slept = 0; slept < kScrapeIntervalMs && !stopping; slept += 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    std::atomic<bool> stopping{false};
    std::atomic<int> failed{0};
    std::thread worker;
};

int runChild(const QString &server, int count, bool withJournal, bool withStatus, const QString &directory,
             int supervisionS, const QString &postgres)
{
    if (!raiseDescriptorLimit(count)) {
        std::fprintf(stderr, "cannot open %d descriptors\n", count + 256);
        return 1;
    }
    // Forked before this process starts any thread of its own.
    int control[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0)
        return 1;
    const pid_t devicesPid = ::fork();
    if (devicesPid < 0)
        return 1;
    if (devicesPid == 0) {
        ::close(control[0]);
        runDevices(control[1], count);
    }
    ::close(control[1]);
    const int controlFd = control[0];

    Figures figures;
    bool measured = false;
    quint16 port = 0;
    if (server == QLatin1String("epoll")) {
        EpollServer epoll;
        port = epoll.start();
        measured = writeFully(controlFd, &port, sizeof port) && port != 0 && answerProbes(controlFd, figures);
    } else {
        QTemporaryDir work(directory + QStringLiteral("/bench_ack-XXXXXX"));
        // The program's own threshold: every line goes to the day log.
        if (work.isValid())
            VelmoraCommon_LogInit(work.path() + QStringLiteral("/"), kLogDebug);
        VelmoraEventJournal journal(work.path() + QStringLiteral("/spool"));
        bool ready = work.isValid() && (!withJournal || !postgres.isEmpty() || journal.open());
        // The journal in PostgreSQL once this process holds its lease, as
        // the active instance does; the previous measurement gave it up.
        VelmoraSharedJournal shared(VelmoraClock::system());
        if (ready && !postgres.isEmpty()) {
            ready = shared.start(postgres, QStringLiteral("bench_ack:%1").arg(QCoreApplication::applicationPid()));
            for (int waited = 0; ready && !shared.holdsLease() && waited < 30000; waited += 50)
                QThread::msleep(50);
            ready = ready && shared.holdsLease();
            if (!ready)
                std::fprintf(stderr, "no lease of the journal in PostgreSQL: %s\n", qPrintable(shared.errorString()));
        }
        {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            port = ready ? probe.serverPort() : 0;
        }
        VelmoraNetworkThread thread;
        if (!postgres.isEmpty())
            thread.setEventStore(shared.store());
        else if (withJournal)
            thread.setEventStore(&journal);
        VelmoraDeviceStateFile deviceStore(work.path() + QStringLiteral("/spool"));
        const QString listPath = work.path() + QStringLiteral("/devices.csv");
        if (supervisionS > 0) {
            if (!writeDeviceList(listPath, count))
                return 1;
            thread.setDeviceStore(&deviceStore);
            thread.setDeviceListPath(listPath);
        }
        thread.startWorker();
        VelmoraNetworkServer *server = thread.worker();
        if (supervisionS > 0) {
            QMetaObject::invokeMethod(
                server, [server, supervisionS] { server->configureDevicesSlot(true, supervisionS); },
                Qt::BlockingQueuedConnection);
        }
        server->setListenAddress(QStringLiteral("127.0.0.1"), port);
        QMetaObject::invokeMethod(server, &VelmoraNetworkServer::startSlot, Qt::QueuedConnection);
        // The endpoint lives in this thread, as it lives in the window's in
        // the program, and is wired to the network thread the same way.
        VelmoraStatusEndpoint endpoint;
        std::unique_ptr<StatusScraper> scraper;
        if (withStatus) {
            QObject::connect(&endpoint, &VelmoraStatusEndpoint::deviceSnapshotRequestSignal, server,
                             &VelmoraNetworkServer::deviceSnapshotSlot, Qt::QueuedConnection);
            QObject::connect(server, &VelmoraNetworkServer::deviceSnapshotSignal, &endpoint,
                             &VelmoraStatusEndpoint::setDevices, Qt::QueuedConnection);
            quint16 httpPort = 0;
            {
                QTcpServer probe;
                probe.listen(QHostAddress::LocalHost, 0);
                httpPort = probe.serverPort();
            }
            // Without it nothing is measured: the devices are told port 0.
            if (endpoint.apply(QStringLiteral("127.0.0.1:%1").arg(httpPort), QString()))
                scraper = std::make_unique<StatusScraper>(httpPort);
            else
                port = 0;
        }
        QThread::msleep(300);
        // This thread plays the window's part: it takes the lines and events
        // the network thread hands over.
        std::thread prober([&] {
            measured = writeFully(controlFd, &port, sizeof port) && port != 0 && answerProbes(controlFd, figures);
            QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
        });
        QCoreApplication::exec();
        prober.join();
        const VelmoraDeviceSupervisor *supervisor = server->deviceSupervisor();
        if (supervisionS > 0 && supervisor->checksRun() > 0)
            figures.checkUsPerSecond = double(supervisor->checksMicroseconds()) / double(supervisor->checksRun());
        if (scraper && scraper->failures() > 0)
            std::fprintf(stderr, "%d status requests failed\n", scraper->failures());
        scraper.reset();
        QMetaObject::invokeMethod(server, &VelmoraNetworkServer::stopSlot, Qt::QueuedConnection);
        thread.quit();
        thread.wait();
    }
    ::close(controlFd);
    int status = 0;
    ::waitpid(devicesPid, &status, 0);
    if (!measured)
        return 1;
    std::printf("mac=%.3f macMissing=%d p50=%.3f p99=%.3f first=%.3f burstMissing=%d rate=%d capped=%d cpu=%.2f "
                "kb=%.2f check=%.1f\n",
                figures.macSeconds, figures.macMissing, figures.burstP50, figures.burstP99, figures.firstBurstP99,
                figures.burstMissing,
                figures.steadyRate, figures.steadyCapped ? 1 : 0, figures.cpuMsPer1000, figures.kbPerConnection,
                figures.checkUsPerSecond);
    return 0;
}

// ---- the table --------------------------------------------------------

using Row = QMap<QString, double>;

bool measureInChild(const QString &server, int count, bool withJournal, bool withStatus, const QString &directory,
                    int supervisionS,
                    Row &row, const QString &postgres = QString())
{
    QProcess child;
    QStringList arguments = {QStringLiteral("--child"), server, QStringLiteral("--devices"), QString::number(count),
                             QStringLiteral("--dir"), directory};
    if (!postgres.isEmpty())
        arguments << QStringLiteral("--postgres-child") << postgres;
    if (withJournal)
        arguments << QStringLiteral("--journal");
    if (supervisionS > 0)
        arguments << QStringLiteral("--supervision") << QString::number(supervisionS);
    if (withStatus)
        arguments << QStringLiteral("--status");
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
    for (const QByteArray &field : fields) {
        const QList<QByteArray> pair = field.split('=');
        if (pair.size() == 2)
            row.insert(QString::fromLatin1(pair.at(0)), pair.at(1).toDouble());
    }
    return row.contains(QStringLiteral("kb"));
}

QString ratio(double value, double baseline)
{
    if (value < 0 || baseline <= 0)
        return QStringLiteral("   -  ");
    return QStringLiteral("(%1x)").arg(value / baseline, 0, 'f', value / baseline < 10 ? 2 : 1);
}

void printRow(const char *server, int count, const Row &row, const Row &baseline)
{
    auto cell = [&](const char *key, int decimals, bool withRatio) {
        const double value = row.value(QLatin1String(key), -1);
        QString text = value < 0 ? QStringLiteral("-") : QString::number(value, 'f', decimals);
        if (withRatio)
            text += QLatin1Char(' ') + ratio(value, baseline.value(QLatin1String(key), -1));
        return text.toLatin1();
    };
    QByteArray mac = cell("mac", 2, &row != &baseline);
    if (row.value(QStringLiteral("macMissing")) > 0)
        mac += " " + QByteArray::number(int(row.value(QStringLiteral("macMissing")))) + " never";
    QByteArray rate = QByteArray::number(int(row.value(QStringLiteral("rate"))));
    if (row.value(QStringLiteral("capped")) > 0)
        rate.prepend(">=");
    if (&row != &baseline)
        rate += ' ' + ratio(row.value(QStringLiteral("rate")), baseline.value(QStringLiteral("rate"))).toLatin1();
    const bool compare = &row != &baseline;
    std::printf("%7d %-7s %-22s %-18s %-18s %-16s %-18s %-16s\n", count, server, mac.constData(),
                cell("p50", 2, compare).constData(), cell("p99", 2, compare).constData(), rate.constData(),
                cell("cpu", 1, compare).constData(), cell("kb", 2, compare).constData());
    if (row.value(QStringLiteral("burstMissing")) > 0)
        std::printf("        (%d burst replies never came)\n", int(row.value(QStringLiteral("burstMissing"))));
    if (row.value(QStringLiteral("check")) > 0)
        std::printf("        (supervision check: %.1f us per second)\n", row.value(QStringLiteral("check")));
    std::fflush(stdout);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

// Supervision off and on in turns, each first every other pair, so that
// what else the machine does meanwhile weighs on both alike; each pair's
// ratios, then their medians. The first off measurement is the one already
// taken.
bool compareSupervision(int count, bool withJournal, const QString &directory, int supervisionS, int pairs,
                        const Row &firstOff, const Row &baseline)
{
    std::vector<double> p99Ratios;
    std::vector<double> cpuRatios;
    for (int pair = 0; pair < pairs; ++pair) {
        Row off = firstOff;
        Row supervised;
        const bool onFirst = pair % 2 == 1;
        for (int turn = 0; turn < 2; ++turn) {
            const bool on = (turn == 0) == onFirst;
            if (!on && pair == 0)
                continue;
            if (!measureInChild(QStringLiteral("lumari"), count, withJournal, false, directory,
                                on ? supervisionS : 0, on ? supervised : off)) {
                std::printf("%7d %s could not run\n", count, on ? "Lumari+s" : "Lumari");
                return false;
            }
            if (!on)
                printRow("Lumari", count, off, baseline);
        }
        // Its ratios are to the converter without supervision.
        printRow("Lumari+s", count, supervised, off);
        const auto value = [](const Row &row, const char *key) { return row.value(QLatin1String(key), -1); };
        p99Ratios.push_back(value(supervised, "p99") / std::max(1e-9, value(off, "p99")));
        cpuRatios.push_back(value(supervised, "cpu") / std::max(1e-9, value(off, "cpu")));
        std::printf("%7d supervision on/off, pair %d: burst p99 %.3f/%.3f ms = %.2fx, CPU %.1f/%.1f ms/1000 f = "
                    "%.2fx; first-contact burst p99 %.1f/%.1f ms; check %.1f us per second\n",
                    count, pair + 1, value(supervised, "p99"), value(off, "p99"), p99Ratios.back(),
                    value(supervised, "cpu"), value(off, "cpu"), cpuRatios.back(), value(supervised, "first"),
                    value(off, "first"), value(supervised, "check"));
        std::fflush(stdout);
    }
    std::printf("%7d supervision on/off, median of %d pairs: burst p99 %.2fx, CPU %.2fx\n", count, pairs,
                median(p99Ratios), median(cpuRatios));
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    registerVelmoraMsgType();

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Compares the network thread with a minimal epoll server."));
    parser.addHelpOption();
    const QCommandLineOption devicesOption(QStringLiteral("devices"), QStringLiteral("Connection counts, comma-separated."),
                                           QStringLiteral("list"), QStringLiteral("100,1000,10000"));
    const QCommandLineOption journalOption(QStringLiteral("journal"),
                                           QStringLiteral("Journal the converter's events on disk, as the program does."));
    const QCommandLineOption directoryOption(QStringLiteral("dir"), QStringLiteral("Directory for the day log and journal."),
                                             QStringLiteral("directory"), QCoreApplication::applicationDirPath());
    const QCommandLineOption childOption(QStringLiteral("child"), QStringLiteral("Internal: one measurement."),
                                         QStringLiteral("server"));
    const QCommandLineOption supervisionOption(
        QStringLiteral("supervision"),
        QStringLiteral("Also run the converter with every device listed and supervised with this period (s)."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption statusOption(
        QStringLiteral("status"),
        QStringLiteral("Measure the converter again with its status endpoint on, scraped every second."));
    const QCommandLineOption pairsOption(QStringLiteral("pairs"),
                                         QStringLiteral("With --supervision, --status or --postgres: off/on measurements "
                                                        "taken in turns."),
                                         QStringLiteral("count"), QStringLiteral("1"));
    const QCommandLineOption postgresOption(
        QStringLiteral("postgres"),
        QStringLiteral("With --journal: measure the converter again with its journal in PostgreSQL."));
    const QCommandLineOption postgresChildOption(QStringLiteral("postgres-child"),
                                                 QStringLiteral("Internal: the journal's connection string."),
                                                 QStringLiteral("connection"));
    parser.addOptions({devicesOption, journalOption, postgresOption, statusOption, pairsOption, directoryOption,
                       childOption, supervisionOption, postgresChildOption});
    parser.process(application);
    const bool withJournal = parser.isSet(journalOption);
    // The throwaway cluster lives as long as this run.
    std::unique_ptr<PgCluster> cluster;
    if (withJournal && parser.isSet(postgresOption) && !parser.isSet(childOption)) {
        cluster = std::make_unique<PgCluster>();
        QString why;
        if (!cluster->start(&why)) {
            std::fprintf(stderr, "no PostgreSQL cluster: %s\n", qPrintable(why));
            return 1;
        }
    }
    const int supervisionS = std::max(0, parser.value(supervisionOption).toInt());
    const bool withStatus = parser.isSet(statusOption);
    const int pairs = std::max(1, parser.value(pairsOption).toInt());
    const QString directory = parser.value(directoryOption);

    if (parser.isSet(childOption))
        return runChild(parser.value(childOption), std::max(1, parser.value(devicesOption).toInt()), withJournal,
                        withStatus, directory, supervisionS, parser.value(postgresChildOption));

    std::printf("%7s %-7s %-22s %-18s %-18s %-16s %-18s %-16s\n", "devices", "server", "MAC to all (s)",
                "burst p50 (ms)", "burst p99 (ms)", "steady (f/s)", "CPU ms/1000 f", "KB/connection");
    bool allRan = true;
    for (const QString &text : parser.value(devicesOption).split(QLatin1Char(','))) {
        const int count = std::max(1, text.toInt());
        Row baseline;
        Row converter;
        if (!measureInChild(QStringLiteral("epoll"), count, false, false, directory, 0, baseline)) {
            std::printf("%7d epoll   could not run\n", count);
            allRan = false;
            continue;
        }
        printRow("epoll", count, baseline, baseline);
        if (!measureInChild(QStringLiteral("lumari"), count, withJournal, false, directory, 0, converter)) {
            std::printf("%7d Lumari  could not run\n", count);
            allRan = false;
            continue;
        }
        printRow("Lumari", count, converter, baseline);
        if (supervisionS > 0 && !compareSupervision(count, withJournal, directory, supervisionS, pairs, converter,
                                                    baseline))
            allRan = false;
        if (cluster) {
            // Disk and PostgreSQL measured in turns; the median ratios are
            // the figures.
            std::vector<double> p99Ratios;
            std::vector<double> rateRatios;
            for (int pair = 0; pair < pairs; ++pair) {
                Row disk = converter;
                if (pair > 0) {
                    if (!measureInChild(QStringLiteral("lumari"), count, true, false, directory, 0, disk)) {
                        allRan = false;
                        break;
                    }
                    printRow("Lumari", count, disk, baseline);
                }
                // Each measurement starts as the disk journal's does, from
                // nothing: the previous one's events (never delivered, as no
                // line runs here) would count against the devices' backlog
                // limits, and its lease, not given up, would be waited out.
                cluster->sql(QStringLiteral("DO $$BEGIN IF to_regclass('lumari_lease') IS NOT NULL THEN "
                                            "UPDATE lumari_lease SET owner = '', expires_at = '-infinity'; "
                                            "DELETE FROM lumari_events; END IF; END$$"));
                Row postgres;
                if (!measureInChild(QStringLiteral("lumari"), count, true, false, directory, 0, postgres,
                                    cluster->connectionString())) {
                    std::printf("%7d +pg     could not run\n", count);
                    allRan = false;
                    break;
                }
                printRow("+pg", count, postgres, disk);
                p99Ratios.push_back(postgres.value(QStringLiteral("p99")) /
                                    std::max(1e-9, disk.value(QStringLiteral("p99"))));
                // A rate of 0 (not even the lowest step held) has no ratio.
                if (disk.value(QStringLiteral("rate")) > 0 && postgres.value(QStringLiteral("rate")) > 0)
                    rateRatios.push_back(postgres.value(QStringLiteral("rate")) / disk.value(QStringLiteral("rate")));
            }
            if (!p99Ratios.empty()) {
                std::sort(p99Ratios.begin(), p99Ratios.end());
                std::sort(rateRatios.begin(), rateRatios.end());
                const QByteArray rateRatio =
                    rateRatios.empty()
                        ? QByteArray("-")
                        : QByteArray::number(rateRatios[rateRatios.size() / 2], 'f', 2) + "x of " +
                              QByteArray::number(int(rateRatios.size()));
                std::printf("%7d journal in PostgreSQL / on disk, median of %d pairs: burst p99 %.2fx, steady rate "
                            "%s\n",
                            count, int(p99Ratios.size()), p99Ratios[p99Ratios.size() / 2], rateRatio.constData());
                std::fflush(stdout);
            }
        }
        if (!withStatus)
            continue;
        // Off and on measured in turns, so that what else the machine does
        // meanwhile weighs on both alike; the median ratio is the figure.
        std::vector<double> ratios;
        for (int pair = 0; pair < pairs; ++pair) {
            Row off = converter;
            if (pair > 0 && !measureInChild(QStringLiteral("lumari"), count, withJournal, false, directory, 0, off)) {
                allRan = false;
                break;
            }
            if (pair > 0)
                printRow("Lumari", count, off, baseline);
            Row monitored;
            if (!measureInChild(QStringLiteral("lumari"), count, withJournal, true, directory, 0, monitored)) {
                std::printf("%7d +http   could not run\n", count);
                allRan = false;
                break;
            }
            printRow("+http", count, monitored, baseline);
            const double offP99 = off.value(QStringLiteral("p99"));
            const double onP99 = monitored.value(QStringLiteral("p99"));
            ratios.push_back(onP99 / std::max(1e-9, offP99));
            std::printf("%7d burst p99 with the endpoint scraped / off: %.3f / %.3f ms = %.2fx\n", count, onP99,
                        offP99, ratios.back());
            std::fflush(stdout);
        }
        if (ratios.size() > 1) {
            std::printf("%7d burst p99 endpoint on / off, median of %d pairs: %.2fx\n", count, int(ratios.size()),
                        median(ratios));
            std::fflush(stdout);
        }
    }
    return allRan ? 0 : 1;
}
