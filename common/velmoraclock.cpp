#include "velmoraclock.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

namespace {

class SystemClock : public VelmoraClock
{
public:
    SystemClock() { started.start(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 monotonicMs() const override { return started.elapsed(); }
    qint64 msecsSinceEpoch() const override { return QDateTime::currentMSecsSinceEpoch(); }

private:
    QElapsedTimer started;
};

} // namespace

VelmoraClock &VelmoraClock::system()
{
    // Deliberately never destroyed: threads may still ask for the time while
    // the process ends.
    static SystemClock *clock = new SystemClock;
    return *clock;
}

VelmoraTimer::VelmoraTimer(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse), manual(clockToUse.manualClock())
{
    if (!manual) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, &VelmoraTimer::timeout);
    }
}

VelmoraTimer::~VelmoraTimer()
{
    if (manual)
        manual->disarm(this);
}

void VelmoraTimer::setInterval(int milliseconds)
{
    intervalMs = milliseconds;
    if (timer)
        timer->setInterval(milliseconds);
}

void VelmoraTimer::setSingleShot(bool value)
{
    singleShot = value;
    if (timer)
        timer->setSingleShot(value);
}

bool VelmoraTimer::isActive() const
{
    if (timer)
        return timer->isActive();
    QMutexLocker lock(&manual->mutex);
    return running;
}

void VelmoraTimer::start(int milliseconds)
{
    setInterval(milliseconds);
    start();
}

void VelmoraTimer::start()
{
    if (timer) {
        timer->start();
        return;
    }
    manual->arm(this);
}

void VelmoraTimer::stop()
{
    if (timer) {
        timer->stop();
        return;
    }
    manual->disarm(this);
}

VelmoraManualClock::VelmoraManualClock(const QDateTime &start) : startWall(start) {}

QDateTime VelmoraManualClock::now() const
{
    QMutexLocker lock(&mutex);
    return startWall.addMSecs(elapsedMs);
}

qint64 VelmoraManualClock::monotonicMs() const
{
    QMutexLocker lock(&mutex);
    return elapsedMs;
}

void VelmoraManualClock::setNow(const QDateTime &wallTime)
{
    QMutexLocker lock(&mutex);
    startWall = wallTime.addMSecs(-elapsedMs);
}

void VelmoraManualClock::arm(VelmoraTimer *timer)
{
    QMutexLocker lock(&mutex);
    timer->running = true;
    timer->dueMs = elapsedMs + qMax(0, timer->intervalMs);
    if (!armed.contains(timer))
        armed.append(timer);
}

void VelmoraManualClock::disarm(VelmoraTimer *timer)
{
    QMutexLocker lock(&mutex);
    timer->running = false;
    armed.removeOne(timer);
}

VelmoraTimer *VelmoraManualClock::takeDue(qint64 limitMs)
{
    QMutexLocker lock(&mutex);
    VelmoraTimer *first = nullptr;
    for (VelmoraTimer *timer : qAsConst(armed)) {
        if (timer->dueMs <= limitMs && (!first || timer->dueMs < first->dueMs))
            first = timer;
    }
    if (!first)
        return nullptr;
    if (first->dueMs > elapsedMs)
        elapsedMs = first->dueMs;
    if (first->singleShot) {
        first->running = false;
        armed.removeOne(first);
    } else {
        // A zero interval would fire for ever within one advance.
        first->dueMs = elapsedMs + qMax(1, first->intervalMs);
    }
    return first;
}

void VelmoraManualClock::advance(qint64 milliseconds)
{
    qint64 target;
    {
        QMutexLocker lock(&mutex);
        target = elapsedMs + qMax<qint64>(0, milliseconds);
    }
    while (VelmoraTimer *timer = takeDue(target)) {
        if (timer->thread() == QThread::currentThread())
            emit timer->timeout();
        else
            QMetaObject::invokeMethod(timer, &VelmoraTimer::timeout, Qt::BlockingQueuedConnection);
    }
    QMutexLocker lock(&mutex);
    elapsedMs = target;
}
