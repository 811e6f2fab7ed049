#include "velmoraservicewatchdog.h"

#include "velmorametrics.h"
#include "velmorasystemd.h"

#include <QFile>
#include <QMetaObject>
#include <QString>

#include <chrono>

namespace {

const char kStallFileVariable[] = "LUMARI_TEST_STALL_FILE";

} // namespace

VelmoraServiceWatchdog::~VelmoraServiceWatchdog()
{
    stop();
}

void VelmoraServiceWatchdog::watch(QObject *object, bool stallable)
{
    watched.push_back(Watched{object, stallable});
}

void VelmoraServiceWatchdog::start()
{
    if (thread.joinable())
        return;
    answeredAt = std::make_unique<std::atomic<std::int64_t>[]>(watched.size());
    stopping = false;
    thread = std::thread([this] { run(); });
}

void VelmoraServiceWatchdog::stop()
{
    {
        const std::lock_guard<std::mutex> locker(mutex);
        stopping = true;
    }
    wake.notify_all();
    if (thread.joinable())
        thread.join();
}

void VelmoraServiceWatchdog::setReceiverStopped(const QByteArray &reason)
{
    const std::lock_guard<std::mutex> locker(mutex);
    receiverStoppedReason = reason;
}

QByteArray VelmoraServiceWatchdog::statusText(const QByteArray &receiverStoppedReason)
{
    const VelmoraMetrics &metrics = VelmoraMetrics::instance();
    QByteArray listening;
    if (metrics.receiverListening.value() == 0)
        listening = "Not listening for devices: "
            + (receiverStoppedReason.isEmpty() ? QByteArray("starting") : receiverStoppedReason) + "; ";
    return listening + QByteArray("Line: ") + VelmoraMetrics::lineStateName(metrics.lineState()) + "; devices connected: "
        + QByteArray::number(qint64(metrics.devicesConnected.value())) + "; events held: "
        + QByteArray::number(qint64(metrics.eventsHeld.value())) + "; set aside: "
        + QByteArray::number(qint64(metrics.eventsSetAside.value()));
}

void VelmoraServiceWatchdog::ping(int index)
{
    QObject *object = watched[std::size_t(index)].object;
    if (!object)
        return;
    const bool stallable = watched[std::size_t(index)].stallable;
    std::atomic<std::int64_t> *answered = &answeredAt[std::size_t(index)];
    QMetaObject::invokeMethod(
        object,
        [answered, stallable]() {
            if (stallable) {
                const QString stallFile = qEnvironmentVariable(kStallFileVariable);
                while (!stallFile.isEmpty() && QFile::exists(stallFile))
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            answered->store(VelmoraMetrics::monotonicUs());
        },
        Qt::QueuedConnection);
}

void VelmoraServiceWatchdog::run()
{
    const VelmoraMetrics &metrics = VelmoraMetrics::instance();
    const std::int64_t periodUs = VelmoraSystemd::watchdogUs() / 2;
    bool ready = false;
    QByteArray lastStatus;
    std::int64_t pingedAt = 0;
    std::unique_lock<std::mutex> locker(mutex);
    while (!stopping) {
        wake.wait_for(locker, std::chrono::milliseconds(kPollMs));
        if (stopping)
            break;
        const bool receiverSettled = metrics.receiverListening.value() != 0 || !receiverStoppedReason.isEmpty();
        if (!ready) {
            if (!receiverSettled || metrics.journalWritable.value() == 0)
                continue;
            ready = true;
            VelmoraSystemd::notify("READY=1");
        }
        const QByteArray status = statusText(receiverStoppedReason);
        if (status != lastStatus) {
            lastStatus = status;
            VelmoraSystemd::notify("STATUS=" + status);
        }
        if (periodUs <= 0)
            continue;
        const std::int64_t now = VelmoraMetrics::monotonicUs();
        if (pingedAt != 0 && now - pingedAt < periodUs)
            continue;
        bool allAnswered = pingedAt != 0;
        for (std::size_t index = 0; index < watched.size(); ++index)
            allAnswered = allAnswered && answeredAt[index].load() >= pingedAt;
        if (allAnswered)
            VelmoraSystemd::notify("WATCHDOG=1");
        pingedAt = now;
        for (std::size_t index = 0; index < watched.size(); ++index)
            ping(int(index));
    }
}
