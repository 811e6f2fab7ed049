#include "velmoracom.h"

#include "receiverline.h"
#include "velmoracomreport.h"
#include "velmoraconf.h"
#include "velmoraeventstore.h"
#include "velmoralog.h"
#include "velmoraportopening.h"
#include "velmorareceiverformat.h"

#include <QTimer>
#include <QVector>

using Prefix = VelmoraComReport::Prefix;

VelmoraCom::VelmoraCom(QObject *parent)
    : QObject(parent),
      portHandle(ReceiverLine::forName(std::string())),
      exchange(*portHandle),
      keepaliveTimer(new QTimer(this)),
      absenceRetryTimer(new QTimer(this)),
      reopenTimer(new QTimer(this))
{
    reopenTimer->setSingleShot(true);
    connect(reopenTimer, &QTimer::timeout, this, &VelmoraCom::reopenPort);
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

void VelmoraCom::chooseLine()
{
    if (portHandle->isOpen())
        return;
    portHandle = ReceiverLine::forName(settings.portName.toUtf8().toStdString());
    exchange.setLine(*portHandle);
}

void VelmoraCom::openPort()
{
    reopenTimer->stop();
    chooseLine();
    if (VelmoraPortOpening::settingsIgnored(*portHandle, settings))
        report(VelmoraPortOpening::ignoredSettingsReport(settings.portName));
    reportedFailureStep = -1;
    reportedFailureReason.clear();
    if (!tryOpen())
        emit stopSignal();
}

void VelmoraCom::reopenPort()
{
    if (!portOpen())
        tryOpen();
}

bool VelmoraCom::tryOpen()
{
    // The success lines wait until the whole sequence succeeded or failed,
    // so that a retry that fails like the last one says nothing at all.
    QVector<VelmoraComReport> succeeded;
    const auto &steps = VelmoraPortOpening::steps();
    for (std::size_t index = 0; index < steps.size(); ++index) {
        const VelmoraPortOpenStep &step = steps[index];
        if (step.call(*portHandle, settings)) {
            succeeded << step.success.report(settings.portName);
            continue;
        }
        const QString reason = QString::fromStdString(portHandle->lastErrorText());
        // Half an open is no open: a port left open with the wrong settings
        // would take event lines it garbles.
        portHandle->close();
        reopenTimer->start(qMax(0, settings.timing.reopenMs));
        if (int(index) == reportedFailureStep && reason == reportedFailureReason)
            return false;
        reportedFailureStep = int(index);
        reportedFailureReason = reason;
        for (const VelmoraComReport &line : qAsConst(succeeded))
            report(line);
        report(step.failure.report(settings.portName).plain(QStringLiteral(" (") + reason + QLatin1Char(')')));
        return false;
    }
    reportedFailureStep = -1;
    reportedFailureReason.clear();
    for (const VelmoraComReport &line : qAsConst(succeeded))
        report(line);
    report(VelmoraPortOpening::readyLine.report(settings.portName));
    emit portReadySignal();

    restartKeepaliveTimer();
    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them.
    queue.portOpened();
    absenceRetryTimer->stop();
    if (!queue.isEmpty())
        scheduleSend();
    return true;
}

void VelmoraCom::lineGone()
{
    report(VelmoraComReport(Prefix::Short)
               .translated(QT_TR_NOOP(" Lost the port "))
               .plain(settings.portName)
               .plain(QStringLiteral(" (") + QString::fromStdString(portHandle->lastErrorText())
                      + QLatin1Char(')'))
               .translated(QT_TR_NOOP("; held events wait until it opens again.")));
    stopKeepaliveTimer();
    absenceRetryTimer->stop();
    portHandle->close();
    reportedFailureStep = -1;
    reportedFailureReason.clear();
    reopenTimer->start(qMax(0, settings.timing.reopenMs));
}

void VelmoraCom::closePort()
{
    // A port closed on request stays closed until the next start request.
    reopenTimer->stop();
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
    case VelmoraExchange::Result::LineGone:
        lineGone();
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
    if (exchange.lineGone()) {
        lineGone();
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
