#include "velmoracom.h"

#include "serialport.h"
#include "velmoracomreport.h"
#include "velmoraconf.h"
#include "velmoraeventstore.h"
#include "velmoralog.h"
#include "velmoraportopening.h"
#include "velmorareceiverformat.h"

#include <QTimer>

using Prefix = VelmoraComReport::Prefix;

VelmoraCom::VelmoraCom(QObject *parent)
    : QObject(parent),
      portHandle(std::make_unique<SerialPort>()),
      exchange(*portHandle),
      keepaliveTimer(new QTimer(this)),
      absenceRetryTimer(new QTimer(this))
{
    keepaliveTimer->setSingleShot(true);
    connect(keepaliveTimer, &QTimer::timeout, this, &VelmoraCom::sendKeepalive);
    absenceRetryTimer->setSingleShot(true);
    connect(absenceRetryTimer, &QTimer::timeout, this, &VelmoraCom::retryHeldEvent);
}

VelmoraCom::~VelmoraCom() = default;

void VelmoraCom::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
    if (!eventStore)
        return;
    const QVector<SVelmoraMsg> pending = eventStore->pendingEvents();
    for (const SVelmoraMsg &msg : pending)
        holdEvent(msg);
}

void VelmoraCom::setSettings(const SVelmoraComSettings &value)
{
    settings = value;
    exchange.setTiming(settings.timing);
    absenceRetryTimer->setInterval(settings.timing.absenceRetryMs);
}

void VelmoraCom::startWith(const SVelmoraComSettings &value)
{
    setSettings(value);
    openPort();
}

void VelmoraCom::holdEvent(const SVelmoraMsg &msg)
{
    if (!queue.add(msg))
        return;
    updateHeldCount();
    if (portOpen() && queue.mayWriteEvents())
        scheduleSend();
}

void VelmoraCom::msgSlot(SVelmoraMsg msg)
{
    if (!queue.add(msg))
        return;
    updateHeldCount();
    if (!portOpen()) {
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP(" Couldn't write to "))
                   .plain(settings.portName));
        return;
    }
    if (!queue.mayWriteEvents())
        return;
    // With nothing ahead of it the event goes out at once, before any stop
    // request that came after it; a backlog drains one event per pass.
    if (queue.size() == 1)
        sendEvent();
    else
        scheduleSend();
}

void VelmoraCom::timeoutSlot() {}

void VelmoraCom::stopSlot()
{
    closePort();
}

void VelmoraCom::startSlot()
{
    openPort();
}

void VelmoraCom::keepaliveSlot()
{
    sendKeepalive();
}

void VelmoraCom::restartKeepaliveTimer()
{
    if (settings.timing.keepaliveMs <= 0)
        return;
    keepaliveTimer->start(settings.timing.keepaliveMs);
    emit timerStartSignal();
}

void VelmoraCom::stopKeepaliveTimer()
{
    keepaliveTimer->stop();
    emit timerStopSignal();
}

bool VelmoraCom::portOpen() const
{
    return portHandle->isOpen();
}

void VelmoraCom::openPort()
{
    for (const VelmoraPortOpenStep &step : VelmoraPortOpening::steps()) {
        if (!step.call(*portHandle, settings)) {
            report(step.failure.report(settings.portName));
            emit stopSignal();
            return;
        }
        report(step.success.report(settings.portName));
    }
    report(VelmoraPortOpening::readyLine.report(settings.portName));

    restartKeepaliveTimer();
    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them.
    queue.portOpened();
    absenceRetryTimer->stop();
    if (!queue.isEmpty())
        scheduleSend();
}

void VelmoraCom::closePort()
{
    stopKeepaliveTimer();
    absenceRetryTimer->stop();
    if (portOpen()) {
        portHandle->close();
        report(VelmoraPortOpening::closedLine.report(settings.portName));
    } else {
        report(VelmoraPortOpening::notOpenLine.report(settings.portName));
    }
}

void VelmoraCom::scheduleSend()
{
    // One event per pass through the event loop, so that stop, start and
    // keepalive requests are not kept waiting behind a long queue.
    if (sendScheduled)
        return;
    sendScheduled = true;
    QMetaObject::invokeMethod(this, &VelmoraCom::sendNextEvent, Qt::QueuedConnection);
}

void VelmoraCom::sendNextEvent()
{
    sendScheduled = false;
    if (queue.isEmpty() || !queue.mayWriteEvents() || !portOpen())
        return;
    sendEvent();
}

void VelmoraCom::retryHeldEvent()
{
    if (queue.isEmpty() || queue.mayWriteEvents() || !portOpen())
        return;
    sendEvent();
}

void VelmoraCom::sendEvent()
{
    const bool appendTime = VelmoraCommon_GetConf()->useTime != 0;
    const QString lineText =
        VelmoraReceiverFormat::eventLine(settings.server, settings.line, queue.next(), appendTime);
    const auto countRefusal = [this](bool refusal) { return queue.countAnswer(refusal); };

    switch (exchange.sendEvent(lineText, countRefusal)) {
    case VelmoraExchange::Result::Acknowledged:
        report(VelmoraComReport(Prefix::Spaced).plain(QStringLiteral("COMMSG: ") + lineText));
        restartKeepaliveTimer();
        finishEvent(queue.takeNext(), true);
        break;
    case VelmoraExchange::Result::Refused:
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP(" Refused by the monitoring software, set aside: "))
                   .plain(lineText));
        finishEvent(queue.takeNext(), false);
        break;
    case VelmoraExchange::Result::NotAcknowledged:
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP("Writing "))
                   .plain(settings.portName)
                   .translated(QT_TR_NOOP(" to "))
                   .translated(QT_TR_NOOP(" was failed! Packet:\n"))
                   .plain(lineText));
        reportNotice(queue.failNext());
        // Without keepalives nothing else would tell when the software is back.
        if (settings.timing.keepaliveMs <= 0)
            absenceRetryTimer->start();
        return;
    }
    if (!queue.isEmpty())
        scheduleSend();
}

void VelmoraCom::sendKeepalive()
{
    keepaliveTimer->stop();
    const QString lineText = VelmoraReceiverFormat::keepaliveLine(settings.server, settings.line);
    const bool acknowledged = exchange.sendKeepalive(lineText);

    if (acknowledged) {
        restartKeepaliveTimer();
        report(VelmoraComReport(Prefix::Short).translated(QT_TR_NOOP(" COMMSG: Keepalive ")));
        const VelmoraHeldQueue::Notice notice = queue.keepaliveAnswered(true);
        if (notice != VelmoraHeldQueue::Notice::None) {
            absenceRetryTimer->stop();
            reportNotice(notice);
        }
        if (!queue.isEmpty())
            scheduleSend();
        return;
    }
    report(VelmoraComReport(Prefix::Short).translated(QT_TR_NOOP(" ERROR COMMSG: Keepalive ")));
    // A request that was already on its way when the port closed must not
    // start the timer again: keepalives stop with the port.
    if (portOpen())
        restartKeepaliveTimer();
    queue.keepaliveAnswered(false);
}

void VelmoraCom::finishEvent(const VelmoraHeldQueue::Finished &finished, bool delivered)
{
    const qint64 journalId = finished.msg.journalId;
    if (journalId != 0 && eventStore) {
        if (delivered)
            eventStore->markDelivered(journalId);
        else
            eventStore->markRefused(journalId);
    }
    updateHeldCount();
    absenceRetryTimer->stop();
    reportNotice(finished.notice);
}

void VelmoraCom::reportNotice(VelmoraHeldQueue::Notice notice)
{
    switch (notice) {
    case VelmoraHeldQueue::Notice::None:
        return;
    case VelmoraHeldQueue::Notice::Absent:
        report(VelmoraComReport(Prefix::Short)
                   .translatedCount(QT_TR_NOOP(" The monitoring software does not acknowledge; "
                                               "events held: %1"),
                                    queue.size()));
        return;
    case VelmoraHeldQueue::Notice::Back:
        report(VelmoraComReport(Prefix::Short)
                   .translatedCount(QT_TR_NOOP(" The monitoring software acknowledges again; "
                                               "held events to send: %1"),
                                    queue.size()));
        return;
    }
}

void VelmoraCom::updateHeldCount()
{
    heldEvents.store(queue.size());
}

void VelmoraCom::report(const VelmoraComReport &line)
{
    VelmoraCommon_LogError(line.file);
    emit logSignal(line.screen);
}
