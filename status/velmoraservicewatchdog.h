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
// start-up is complete and the journal is open (the receiver listening, or
// stopped on purpose because the serial port is closed: a service that is
// up and says why it does not listen is better than one restarted in a loop
// until its start times out), STATUS= with the line's state and why the
// receiver does not listen, and WATCHDOG=1 every half of WatchdogSec only while every watched
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

    // From any thread: the receiver was stopped on purpose, with the reason
    // STATUS= gives; an empty reason: it is meant to listen again.
    void setReceiverStopped(const QByteArray &reason);

    // The line of STATUS= for the current metrics, led by why the receiver
    // does not listen when it does not.
    static QByteArray statusText(const QByteArray &receiverStoppedReason = QByteArray());

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
    // Guarded by mutex, as stopping is.
    QByteArray receiverStoppedReason;
};

#endif // VELMORASERVICEWATCHDOG_H
