#ifndef VELMORASERVICEWATCHDOG_H
#define VELMORASERVICEWATCHDOG_H

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <memory>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Tells systemd how the service is, from a thread of its own: READY=1 once
// the receiver listens and the journal is open, STATUS= with the line's
// state, and WATCHDOG=1 every half of WatchdogSec only while every watched
// thread answered a ping within that time, so that a hung thread gets the
// service restarted. A ping is a call queued to an object living in the
// watched thread. Without systemd it sends nothing and pings nothing.
class VelmoraServiceWatchdog
{
public:
    static constexpr int kPollMs = 200;

    VelmoraServiceWatchdog() = default;
    ~VelmoraServiceWatchdog();
    VelmoraServiceWatchdog(const VelmoraServiceWatchdog &) = delete;
    VelmoraServiceWatchdog &operator=(const VelmoraServiceWatchdog &) = delete;

    // Before start(): an object in each thread to watch, living as long as
    // the process. While the file
    // that LUMARI_TEST_STALL_FILE names exists, a stallable thread's ping
    // holds that thread up: the tests' way to hang it.
    void watch(QObject *object, bool stallable = false);
    void start();
    void stop();

    // The line of STATUS= for the current metrics.
    static QByteArray statusText();

private:
    void run();
    void ping(int index);

    struct Watched
    {
        QObject *object = nullptr;
        bool stallable = false;
    };
    std::vector<Watched> watched;
    // Microseconds of the last answer of each watched thread.
    std::unique_ptr<std::atomic<std::int64_t>[]> answeredAt;
    std::thread thread;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
};

#endif // VELMORASERVICEWATCHDOG_H
