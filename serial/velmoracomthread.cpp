#include "velmoracomthread.h"

#include "velmoracom.h"
#include "velmorareceiverformat.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <utility>

VelmoraComThread::VelmoraComThread(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<SVelmoraLineState>("SVelmoraLineState");
    qRegisterMetaType<SVelmoraHeldRows>("SVelmoraHeldRows");
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
    timing.keepaliveMs = SVelmoraComTiming::keepalivePeriodMs(seconds);
}

void VelmoraComThread::setTiming(const SVelmoraComTiming &value)
{
    timing = value;
}

void VelmoraComThread::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
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

VelmoraCom *VelmoraComThread::eventReceiver() const
{
    QMutexLocker locker(&workerMutex);
    return worker;
}

int VelmoraComThread::heldCount() const
{
    QMutexLocker locker(&workerMutex);
    return worker ? worker->heldCount() + inbox.size() : earlyEvents.size();
}

SVelmoraComSettings VelmoraComThread::workerSettings() const
{
    SVelmoraComSettings settings;
    settings.portName = portName;
    settings.baudRate = baudRate;
    settings.dataBits = dataBits;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.server = VelmoraReceiverFormat::serverText(server);
    settings.line = VelmoraReceiverFormat::lineText(line);
    settings.timing = timing;
    return settings;
}

void VelmoraComThread::msgSlot(SVelmoraMsg msg)
{
    QMutexLocker locker(&workerMutex);
    if (!worker) {
        earlyEvents.append(msg);
        return;
    }
    inbox.append(msg);
    if (inbox.size() > 1)
        return; // the hand-over is already on its way
    VelmoraCom *target = worker;
    QMetaObject::invokeMethod(
        target, [this, target] { target->msgsSlot(takeInbox()); }, Qt::QueuedConnection);
}

QVector<SVelmoraMsg> VelmoraComThread::takeInbox()
{
    QMutexLocker locker(&workerMutex);
    return std::exchange(inbox, {});
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
        // One queued call: the worker copies the settings in its own thread,
        // between two exchanges, and opens the port with them.
        VelmoraCom *target = worker;
        const SVelmoraComSettings settings = workerSettings();
        QMetaObject::invokeMethod(
            target, [target, settings] { target->startWith(settings); }, Qt::QueuedConnection);
    }
    emit startSignal2();
}

void VelmoraComThread::timerStartSlot()
{
    QMutexLocker locker(&workerMutex);
    if (worker)
        QMetaObject::invokeMethod(worker, &VelmoraCom::restartKeepaliveTimer, Qt::QueuedConnection);
}

void VelmoraComThread::timerStopSlot()
{
    QMutexLocker locker(&workerMutex);
    if (worker)
        QMetaObject::invokeMethod(worker, &VelmoraCom::stopKeepaliveTimer, Qt::QueuedConnection);
}

void VelmoraComThread::timeoutSlot()
{
    emit keepaliveSignal();
}

void VelmoraComThread::sendAgainSlot(qint64 key)
{
    QMutexLocker locker(&workerMutex);
    if (VelmoraCom *target = worker)
        QMetaObject::invokeMethod(target, [target, key] { target->sendAgainSlot(key); }, Qt::QueuedConnection);
}

void VelmoraComThread::releaseSlot(qint64 key)
{
    QMutexLocker locker(&workerMutex);
    if (VelmoraCom *target = worker)
        QMetaObject::invokeMethod(target, [target, key] { target->releaseSlot(key); }, Qt::QueuedConnection);
}

void VelmoraComThread::setHeldRowsWanted(bool wanted)
{
    QMutexLocker locker(&workerMutex);
    if (VelmoraCom *target = worker) {
        QMetaObject::invokeMethod(
            target, [target, wanted] { target->setHeldRowsWanted(wanted); }, Qt::QueuedConnection);
    }
}

void VelmoraComThread::run()
{
    // Lives in this thread until its event loop ends; then deleted here, in
    // the thread it belongs to.
    auto *created = new VelmoraCom();

    connect(created, &VelmoraCom::logSignal, this, &VelmoraComThread::logSignal);
    connect(created, &VelmoraCom::stopSignal, this, &VelmoraComThread::stopSignal);
    connect(created, &VelmoraCom::portReadySignal, this, &VelmoraComThread::portReadySignal);
    connect(created, &VelmoraCom::lineStateSignal, this, &VelmoraComThread::lineStateSignal);
    connect(created, &VelmoraCom::heldRowsSignal, this, &VelmoraComThread::heldRowsSignal);
    connect(this, &VelmoraComThread::stopSignal2, created, &VelmoraCom::stopSlot,
            Qt::QueuedConnection);
    connect(this, &VelmoraComThread::keepaliveSignal, created, &VelmoraCom::keepaliveSlot,
            Qt::QueuedConnection);

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
        // Not lost either way (the journal has them), but a worker made
        // later takes them first, as it would have.
        earlyEvents = std::exchange(inbox, {});
    }
    delete created;
}
