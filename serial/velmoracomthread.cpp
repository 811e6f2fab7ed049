#include "velmoracomthread.h"

#include "velmoracom.h"
#include "velmorareceiverformat.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QTimer>

namespace {

constexpr int kMillisecondsPerSecond = 1000;

} // namespace

VelmoraComThread::VelmoraComThread(QObject *parent)
    : QThread(parent),
      absenceRetryInterval(VelmoraCom::kDefaultAbsenceRetryMs),
      keepaliveTimer(new QTimer(this))
{
}

VelmoraComThread::~VelmoraComThread()
{
    quit();
    wait();
}

void VelmoraComThread::setPortName(const QString &name)
{
    portName = name;
}

void VelmoraComThread::setBaudRate(int rate)
{
    baudRate = rate;
}

void VelmoraComThread::setDataBits(int bits)
{
    dataBits = bits;
}

void VelmoraComThread::setParity(int code)
{
    parity = code;
}

void VelmoraComThread::setStopBits(int choice)
{
    stopBits = choice;
}

void VelmoraComThread::setServer(const QString &text)
{
    server = text;
}

void VelmoraComThread::setLine(const QString &text)
{
    line = text;
}

void VelmoraComThread::setKeepAlive(int seconds)
{
    keepAlive = seconds;
}

void VelmoraComThread::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

void VelmoraComThread::setAbsenceRetryInterval(int milliseconds)
{
    absenceRetryInterval = milliseconds;
}

bool VelmoraComThread::waitUntilReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&workerMutex);
    while (!worker) {
        if (!workerCreated.wait(&workerMutex, deadline))
            return worker != nullptr;
    }
    return true;
}

int VelmoraComThread::heldCount() const
{
    QMutexLocker locker(&workerMutex);
    return worker ? worker->heldCount() : earlyEvents.size();
}

void VelmoraComThread::msgSlot(SVelmoraMsg msg)
{
    QMutexLocker locker(&workerMutex);
    if (!worker) {
        earlyEvents.append(msg);
        return;
    }
    VelmoraCom *target = worker;
    QMetaObject::invokeMethod(
        target, [target, msg] { target->msgSlot(msg); }, Qt::QueuedConnection);
}

void VelmoraComThread::comStopSlot()
{
    emit stopSignal2();
}

void VelmoraComThread::comStartSlot()
{
    {
        QMutexLocker locker(&workerMutex);
        if (!worker)
            return;
        SVelmoraComSettings settings;
        settings.portName = portName;
        settings.baudRate = baudRate;
        settings.dataBits = dataBits;
        settings.parity = parity;
        settings.stopBits = stopBits;
        settings.server = VelmoraReceiverFormat::serverText(server);
        settings.line = VelmoraReceiverFormat::lineText(line);
        settings.keepAlive = VelmoraReceiverFormat::workerKeepAlive(keepAlive);
        settings.keepaliveTimerSeconds = keepAlive;
        // Copied in the worker's own thread, between two exchanges, and
        // before the start request that follows.
        VelmoraCom *target = worker;
        QMetaObject::invokeMethod(
            target, [target, settings] { target->setSettings(settings); }, Qt::QueuedConnection);
    }
    emit startSignal2();
}

void VelmoraComThread::timerStartSlot()
{
    if (keepAlive > 0)
        keepaliveTimer->start(keepAlive * kMillisecondsPerSecond);
}

void VelmoraComThread::timerStopSlot()
{
    keepaliveTimer->stop();
}

void VelmoraComThread::timeoutSlot()
{
    keepaliveTimer->stop();
    emit keepaliveSignal();
}

void VelmoraComThread::run()
{
    // Lives in this thread until its event loop ends; then deleted here, in
    // the thread it belongs to.
    auto *created = new VelmoraCom();
    created->setAbsenceRetryInterval(absenceRetryInterval);

    connect(created, &VelmoraCom::logSignal, this, &VelmoraComThread::logSignal);
    connect(created, &VelmoraCom::stopSignal, this, &VelmoraComThread::stopSignal);
    connect(this, &VelmoraComThread::stopSignal2, created, &VelmoraCom::stopSlot,
            Qt::QueuedConnection);
    connect(this, &VelmoraComThread::startSignal2, created, &VelmoraCom::startSlot,
            Qt::QueuedConnection);
    connect(this, &VelmoraComThread::keepaliveSignal, created, &VelmoraCom::keepaliveSlot,
            Qt::QueuedConnection);
    connect(keepaliveTimer, &QTimer::timeout, this, &VelmoraComThread::timeoutSlot);
    connect(created, &VelmoraCom::timerStartSignal, this, &VelmoraComThread::timerStartSlot);
    connect(created, &VelmoraCom::timerStopSignal, this, &VelmoraComThread::timerStopSlot);

    created->setEventStore(eventStore);
    {
        QMutexLocker locker(&workerMutex);
        for (const SVelmoraMsg &msg : qAsConst(earlyEvents))
            created->holdEvent(msg);
        earlyEvents.clear();
        worker = created;
        workerCreated.wakeAll();
    }

    exec();

    {
        QMutexLocker locker(&workerMutex);
        worker = nullptr;
    }
    delete created;
}
