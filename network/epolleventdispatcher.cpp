#include "epolleventdispatcher.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimerEvent>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int kEventsPerWait = 256;

qint64 nowMs()
{
    return QDeadlineTimer::current().deadline();
}

quint32 interestOf(QSocketNotifier::Type type)
{
    switch (type) {
    case QSocketNotifier::Read:
        return EPOLLIN;
    case QSocketNotifier::Write:
        return EPOLLOUT;
    case QSocketNotifier::Exception:
        return EPOLLPRI;
    }
    return 0;
}

} // namespace

EpollEventDispatcher::EpollEventDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
{
    epollDescriptor = epoll_create1(EPOLL_CLOEXEC);
    wakeDescriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = wakeDescriptor;
    if (epollDescriptor < 0 || wakeDescriptor < 0
        || epoll_ctl(epollDescriptor, EPOLL_CTL_ADD, wakeDescriptor, &wake) != 0)
        qFatal("network event loop: %s", std::strerror(errno));
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(wakeDescriptor);
    ::close(epollDescriptor);
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    interrupted.store(false);
    QCoreApplication::sendPostedEvents();
    if (interrupted.load())
        return true;

    bool handled = fireDueTimers();
    if (interrupted.load())
        return true;

    // Block only when nothing is left to do; a posted event or another
    // thread's wakeUp() makes the wake descriptor readable.
    const bool wait = flags.testFlag(QEventLoop::WaitForMoreEvents) && !handled;
    int timeoutMs = 0;
    if (wait) {
        emit aboutToBlock();
        timeoutMs = msUntilNextTimer(nowMs());
    }
    epoll_event events[kEventsPerWait];
    const int ready = epoll_wait(epollDescriptor, events, kEventsPerWait, timeoutMs);
    if (wait)
        emit awake();
    if (ready < 0)
        return handled;

    for (int i = 0; i < ready; ++i) {
        const int descriptor = events[i].data.fd;
        if (descriptor == wakeDescriptor) {
            eventfd_t count = 0;
            eventfd_read(wakeDescriptor, &count);
            continue;
        }
        if (flags.testFlag(QEventLoop::ExcludeSocketNotifiers))
            continue;
        activate(descriptor, events[i].events);
        handled = true;
        if (interrupted.load())
            return true;
    }
    QCoreApplication::sendPostedEvents();
    if (fireDueTimers())
        handled = true;
    return handled || ready > 0;
}

bool EpollEventDispatcher::hasPendingEvents()
{
    return false;
}

void EpollEventDispatcher::activate(int descriptor, quint32 events)
{
    // A notifier may be deleted or disabled by the one activated before it,
    // so each is looked up afresh.
    const struct {
        QSocketNotifier::Type type;
        quint32 mask;
    } kinds[] = {
        {QSocketNotifier::Read, EPOLLIN | EPOLLHUP | EPOLLERR | EPOLLRDHUP},
        {QSocketNotifier::Write, EPOLLOUT | EPOLLHUP | EPOLLERR},
        {QSocketNotifier::Exception, EPOLLPRI},
    };
    for (const auto &kind : kinds) {
        if (!(events & kind.mask))
            continue;
        const auto found = watches.constFind(descriptor);
        if (found == watches.constEnd())
            return;
        QSocketNotifier *notifier = found->notifiers[kind.type];
        if (!notifier)
            continue;
        QEvent activation(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &activation);
    }
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    const int descriptor = int(notifier->socket());
    const bool known = watches.contains(descriptor);
    Watch &watch = watches[descriptor];
    if (watch.notifiers[notifier->type()] && watch.notifiers[notifier->type()] != notifier)
        qWarning("network event loop: a second notifier of one kind for socket %d", descriptor);
    watch.notifiers[notifier->type()] = notifier;
    updateInterest(descriptor, watch, known);
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const int descriptor = int(notifier->socket());
    const auto found = watches.find(descriptor);
    if (found == watches.end() || found->notifiers[notifier->type()] != notifier)
        return;
    found->notifiers[notifier->type()] = nullptr;
    const Watch &watch = *found;
    if (!watch.notifiers[0] && !watch.notifiers[1] && !watch.notifiers[2]) {
        // The descriptor may be closed already, which removed it from the
        // interest list by itself.
        epoll_ctl(epollDescriptor, EPOLL_CTL_DEL, descriptor, nullptr);
        watches.erase(found);
        return;
    }
    updateInterest(descriptor, watch, true);
}

bool EpollEventDispatcher::updateInterest(int descriptor, const Watch &watch, bool known)
{
    epoll_event interest{};
    interest.data.fd = descriptor;
    for (int type = 0; type < 3; ++type) {
        if (watch.notifiers[type])
            interest.events |= interestOf(QSocketNotifier::Type(type));
    }
    if (epoll_ctl(epollDescriptor, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, descriptor, &interest) == 0)
        return true;
    // A descriptor closed and reused behind the notifier's back.
    if (errno == ENOENT && epoll_ctl(epollDescriptor, EPOLL_CTL_ADD, descriptor, &interest) == 0)
        return true;
    if (errno == EEXIST && epoll_ctl(epollDescriptor, EPOLL_CTL_MOD, descriptor, &interest) == 0)
        return true;
    qWarning("network event loop: socket %d: %s", descriptor, std::strerror(errno));
    return false;
}

void EpollEventDispatcher::registerTimer(int timerId, int interval, Qt::TimerType timerType, QObject *object)
{
    Timer timer;
    timer.id = timerId;
    timer.interval = std::max(0, interval);
    timer.type = timerType;
    timer.object = object;
    timer.dueMs = nowMs() + timer.interval;
    timers.push_back(timer);
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    const auto found = std::find_if(timers.begin(), timers.end(), [timerId](const Timer &t) { return t.id == timerId; });
    if (found == timers.end())
        return false;
    timers.erase(found);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject *object)
{
    const auto end = std::remove_if(timers.begin(), timers.end(), [object](const Timer &t) { return t.object == object; });
    const bool any = end != timers.end();
    timers.erase(end, timers.end());
    return any;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> list;
    for (const Timer &timer : timers) {
        if (timer.object == object)
            list.append(TimerInfo(timer.id, timer.interval, timer.type));
    }
    return list;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    for (const Timer &timer : timers) {
        if (timer.id == timerId)
            return int(std::max<qint64>(0, timer.dueMs - nowMs()));
    }
    return -1;
}

int EpollEventDispatcher::msUntilNextTimer(qint64 now) const
{
    qint64 soonest = -1;
    for (const Timer &timer : timers) {
        if (timer.firing)
            continue;
        const qint64 left = std::max<qint64>(0, timer.dueMs - now);
        if (soonest < 0 || left < soonest)
            soonest = left;
    }
    return soonest < 0 ? -1 : int(std::min<qint64>(soonest, INT_MAX));
}

bool EpollEventDispatcher::fireDueTimers()
{
    const qint64 now = nowMs();
    QVector<int> due;
    for (const Timer &timer : timers) {
        if (!timer.firing && timer.dueMs <= now)
            due.append(timer.id);
    }
    for (int id : qAsConst(due)) {
        // Any timer may have been stopped by one fired before it.
        auto found = std::find_if(timers.begin(), timers.end(), [id](const Timer &t) { return t.id == id; });
        if (found == timers.end())
            continue;
        // A loop that fell behind fires a timer once, not once for every
        // period it missed.
        found->dueMs += found->interval;
        if (found->dueMs <= now)
            found->dueMs = now + found->interval;
        found->firing = true;
        QObject *object = found->object;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(object, &event);
        found = std::find_if(timers.begin(), timers.end(), [id](const Timer &t) { return t.id == id; });
        if (found != timers.end())
            found->firing = false;
    }
    return !due.isEmpty();
}

void EpollEventDispatcher::wakeUp()
{
    eventfd_write(wakeDescriptor, 1);
}

void EpollEventDispatcher::interrupt()
{
    interrupted.store(true);
    wakeUp();
}

void EpollEventDispatcher::flush()
{
}
