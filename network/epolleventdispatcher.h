#ifndef EPOLLEVENTDISPATCHER_H
#define EPOLLEVENTDISPATCHER_H

#include <QAbstractEventDispatcher>
#include <QHash>
#include <QVector>

#include <atomic>
#include <vector>

class QSocketNotifier;

// The network thread's event loop on Linux. The toolkit's own loops hand
// the system every open socket on each wake-up and look at every one of
// them afterwards, so with thousands of devices connected each frame costs
// in proportion to their number. epoll keeps the interest list in the
// kernel and reports only the sockets that are ready. Timers are kept in a
// plain list: the network thread has only a handful.
class EpollEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT

public:
    explicit EpollEventDispatcher(QObject *parent = nullptr);
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    bool hasPendingEvents() override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    void registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    void wakeUp() override;
    void interrupt() override;
    void flush() override;

private:
    // The notifiers of one descriptor, by QSocketNotifier::Type.
    struct Watch
    {
        QSocketNotifier *notifiers[3] = {nullptr, nullptr, nullptr};
    };

    struct Timer
    {
        int id = 0;
        int interval = 0;
        Qt::TimerType type = Qt::CoarseTimer;
        QObject *object = nullptr;
        qint64 dueMs = 0;
        bool firing = false;
    };

    bool updateInterest(int descriptor, const Watch &watch, bool known);
    int msUntilNextTimer(qint64 now) const;
    bool fireDueTimers();
    void activate(int descriptor, quint32 events);

    int epollDescriptor = -1;
    int wakeDescriptor = -1;
    QHash<int, Watch> watches;
    std::vector<Timer> timers;
    std::atomic<bool> interrupted{false};
};

#endif // EPOLLEVENTDISPATCHER_H
