#include "velmoracomthread.h"

#include "velmoracom.h"
#include "velmorareceiverformat.h"

#include <QMutexLocker>

#include <utility>

VelmoraComThread::VelmoraComThread(VelmoraClock &clockToUse, QObject *parent) : QThread(parent), clock(clockToUse)
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
    settings.portName = name;
}

void VelmoraComThread::setBaudRate(int rate)
{
    settings.baudRate = rate;
}

void VelmoraComThread::setDataBits(int bits)
{
    settings.dataBits = bits;
}

void VelmoraComThread::setParity(int code)
{
    settings.parity = code;
}

void VelmoraComThread::setStopBits(int choice)
{
    settings.stopBits = choice;
}

void VelmoraComThread::setServer(const QString &text)
{
    settings.server = text;
}

void VelmoraComThread::setLine(const QString &text)
{
    settings.line = text;
}

void VelmoraComThread::setUseTime(bool append)
{
    settings.useTime = append;
}

void VelmoraComThread::setKeepAlive(int seconds)
{
    settings.timing.keepaliveMs = SVelmoraComTiming::keepalivePeriodMs(seconds);
}

void VelmoraComThread::setAckWait(int ms)
{
    settings.timing.ackWaitMs = ms;
}

void VelmoraComThread::setFallbackName(const QString &name)
{
    settings.fallbackName = name;
}

void VelmoraComThread::setTiming(const SVelmoraComTiming &value)
{
    settings.timing = value;
}

void VelmoraComThread::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
}

void VelmoraComThread::setOutputGate(std::function<bool()> gate)
{
    outputGate = std::move(gate);
}

void VelmoraComThread::startWorker()
{
    start();
    QMutexLocker locker(&workerMutex);
    // run() publishes the worker before its loop; the check of isRunning()
    // keeps a thread that ended first from holding this one for ever.
    constexpr unsigned long kRecheckMs = 100;
    while (!currentWorker && isRunning())
        workerCreated.wait(&workerMutex, kRecheckMs);
}

VelmoraCom *VelmoraComThread::worker() const
{
    QMutexLocker locker(&workerMutex);
    return currentWorker;
}

int VelmoraComThread::heldCount() const
{
    QMutexLocker locker(&workerMutex);
    return currentWorker ? currentWorker->heldCount() + inbox.size() : inbox.size();
}

SVelmoraComSettings VelmoraComThread::workerSettings() const
{
    SVelmoraComSettings record = settings;
    record.server = VelmoraReceiverFormat::serverText(settings.server);
    record.line = VelmoraReceiverFormat::lineText(settings.line);
    return record;
}

void VelmoraComThread::msgSlot(SVelmoraMsg msg)
{
    QMutexLocker locker(&workerMutex);
    inbox.append(msg);
    if (currentWorker && inbox.size() == 1)
        handOverInbox();
}

void VelmoraComThread::handOverInbox()
{
    // Called with workerMutex held; the events are taken when the call runs,
    // with whatever came meanwhile.
    VelmoraCom *target = currentWorker;
    QMetaObject::invokeMethod(
        target,
        [this, target] {
            QVector<SVelmoraMsg> events;
            {
                QMutexLocker locker(&workerMutex);
                events = std::exchange(inbox, {});
            }
            target->msgsSlot(events);
        },
        Qt::QueuedConnection);
}

void VelmoraComThread::comStartSlot()
{
    VelmoraCom *target = worker();
    if (!target)
        return;
    // One queued call: the worker copies the settings in its own thread,
    // between two exchanges, and opens the port with them.
    const SVelmoraComSettings record = workerSettings();
    QMetaObject::invokeMethod(
        target, [target, record] { target->startWith(record); }, Qt::QueuedConnection);
}

void VelmoraComThread::setWorker(VelmoraCom *created)
{
    QMutexLocker locker(&workerMutex);
    currentWorker = created;
    if (currentWorker) {
        // In the serial thread: the events that came while there was no
        // worker are held first, before any that come after.
        for (const SVelmoraMsg &msg : qAsConst(inbox))
            currentWorker->holdEvent(msg);
        inbox.clear();
    }
    workerCreated.wakeAll();
}

void VelmoraComThread::run()
{
    VelmoraCom created(clock);
    created.setEventStore(eventStore);
    if (outputGate)
        created.setOutputGate(outputGate);
    setWorker(&created);
    exec();
    setWorker(nullptr);
}
