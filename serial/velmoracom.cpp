#include "velmoracom.h"

#include "receiverline.h"
#include "velmoracomreport.h"
#include "velmoraconf.h"
#include "velmoraeventstore.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmoraportopening.h"
#include "velmorareceiverformat.h"

#include <QTimer>
#include <QDateTime>
#include <QVector>

#include <algorithm>

using Prefix = VelmoraComReport::Prefix;

namespace {

VelmoraMetrics::LineState metricsLineState(SVelmoraLineState::Kind kind)
{
    switch (kind) {
    case SVelmoraLineState::PortClosed:
        return VelmoraMetrics::LineState::PortClosed;
    case SVelmoraLineState::PortOpen:
        return VelmoraMetrics::LineState::PortOpen;
    case SVelmoraLineState::Answering:
        return VelmoraMetrics::LineState::Answering;
    case SVelmoraLineState::NotAnswering:
        return VelmoraMetrics::LineState::NotAnswering;
    case SVelmoraLineState::RefusingEvents:
        return VelmoraMetrics::LineState::LineFault;
    }
    return VelmoraMetrics::LineState::PortClosed;
}

} // namespace

VelmoraCom::VelmoraCom(QObject *parent)
    : QObject(parent),
      portHandle(ReceiverLine::forName(std::string())),
      exchange(*portHandle),
      keepaliveTimer(new QTimer(this)),
      absenceRetryTimer(new QTimer(this)),
      reopenTimer(new QTimer(this)),
      heldRowsTimer(new QTimer(this))
{
    lineState.reason = tr("not opened yet");
    reopenTimer->setSingleShot(true);
    connect(reopenTimer, &QTimer::timeout, this, &VelmoraCom::reopenPort);
    keepaliveTimer->setSingleShot(true);
    connect(keepaliveTimer, &QTimer::timeout, this, &VelmoraCom::sendKeepalive);
    absenceRetryTimer->setSingleShot(true);
    connect(absenceRetryTimer, &QTimer::timeout, this, &VelmoraCom::retryHeldEvent);
    heldRowsTimer->setSingleShot(true);
    heldRowsTimer->setInterval(kHeldRowsIntervalMs);
    connect(heldRowsTimer, &QTimer::timeout, this, &VelmoraCom::sendHeldRows);
}

VelmoraCom::~VelmoraCom() = default;

void VelmoraCom::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
    if (eventStore) {
        const QVector<SVelmoraMsg> pending = eventStore->pendingEvents();
        for (const SVelmoraMsg &msg : pending)
            holdEvent(msg);
        // Set aside before the restart, and still waiting for the operator.
        const QVector<SVelmoraMsg> refused = eventStore->setAsideEvents();
        for (const SVelmoraMsg &msg : refused)
            setAsideEvents.append(SetAsideEvent{msg, 0, msg.journalId != 0 ? msg.journalId : nextLocalKey--});
    }
    updateHeldCount();
    emit lineStateSignal(lineState);
}

void VelmoraCom::setSettings(const SVelmoraComSettings &value)
{
    settings = value;
    exchange.setTiming(settings.timing);
    absenceRetryTimer->setInterval(settings.timing.absenceRetryMs);
    VelmoraMetrics::instance().keepalivePeriodMs.set(settings.timing.keepaliveMs);
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
    msgsSlot({msg});
}

void VelmoraCom::msgsSlot(QVector<SVelmoraMsg> msgs)
{
    const bool nothingAhead = queue.isEmpty();
    bool added = false;
    for (const SVelmoraMsg &msg : qAsConst(msgs)) {
        if (!queue.add(msg))
            continue;
        added = true;
        if (!portOpen()) {
            report(VelmoraComReport(Prefix::Short)
                       .translated(QT_TR_NOOP(" Couldn't write to "))
                       .plain(settings.portName));
        }
    }
    if (!added)
        return;
    updateHeldCount();
    if (!portOpen() || !queue.mayWriteEvents())
        return;
    // With nothing ahead of them the events start at once, before any stop
    // request that came after them; a backlog drains one event per pass.
    if (nothingAhead)
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
        setLineState(SVelmoraLineState::PortClosed, reason);
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
    setLineState(SVelmoraLineState::PortOpen);

    restartKeepaliveTimer();
    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them.
    queue.portOpened();
    continueSending(true);
    return true;
}

void VelmoraCom::lineGone()
{
    setLineState(SVelmoraLineState::PortClosed, QString::fromStdString(portHandle->lastErrorText()));
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
    setLineState(SVelmoraLineState::PortClosed, tr("closed for new settings"));
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

QString VelmoraCom::eventLineOf(const SVelmoraMsg &msg) const
{
    const bool appendTime = VelmoraCommon_GetConf()->useTime != 0;
    return VelmoraReceiverFormat::eventLine(settings.server, settings.line, msg, appendTime);
}

void VelmoraCom::sendEvent()
{
    const QString lineText = eventLineOf(queue.next());
    const auto countRefusal = [this](bool refusal) { return queue.countAnswer(refusal); };
    noteHeldChanged();

    switch (exchange.sendEvent(lineText, countRefusal)) {
    case VelmoraExchange::Result::Acknowledged:
        VelmoraMetrics::instance().lineAnswered();
        report(VelmoraComReport(Prefix::Spaced).plain(QStringLiteral("COMMSG: ") + lineText));
        restartKeepaliveTimer();
        setLineState(SVelmoraLineState::Answering);
        finishEvent(queue.takeNext());
        break;
    case VelmoraExchange::Result::Refused:
        handleRefusal(lineText);
        break;
    case VelmoraExchange::Result::NotAcknowledged:
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP("Writing "))
                   .plain(settings.portName)
                   .translated(QT_TR_NOOP(" to "))
                   .translated(QT_TR_NOOP(" was failed! Packet:\n"))
                   .plain(lineText));
        reportNotice(queue.failNext());
        if (!queue.inLineFault())
            setLineState(SVelmoraLineState::NotAnswering);
        break;
    case VelmoraExchange::Result::LineGone:
        lineGone();
        return;
    }
    continueSending(true);
}

void VelmoraCom::handleRefusal(const QString &lineText)
{
    switch (queue.refuseNext()) {
    case VelmoraHeldQueue::Refusal::OnTrial:
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP(" Refused by the monitoring software; kept until the next "
                                          "event shows whether the line is at fault: "))
                   .plain(lineText));
        setLineState(SVelmoraLineState::Answering);
        return;
    case VelmoraHeldQueue::Refusal::LineFault:
        report(VelmoraComReport(Prefix::Short)
                   .translated(QT_TR_NOOP(" Line fault: the monitoring software refuses every event "
                                          "line; all events are held in order and the first is tried "
                                          "again. Refused: "))
                   .plain(lineText));
        setLineState(SVelmoraLineState::RefusingEvents);
        return;
    case VelmoraHeldQueue::Refusal::StillHeld:
        return;
    }
}

void VelmoraCom::continueSending(bool restartRetry)
{
    noteHeldChanged();
    if (queue.mayWriteEvents()) {
        absenceRetryTimer->stop();
        if (!queue.isEmpty())
            scheduleSend();
        return;
    }
    // Without keepalives nothing else would tell when the software is back;
    // during a line fault, or with only a refused event left, keepalives say
    // nothing about the events.
    if (!queue.retriesOnTimer(settings.timing.keepaliveMs > 0)) {
        absenceRetryTimer->stop();
        return;
    }
    if (restartRetry || !absenceRetryTimer->isActive())
        absenceRetryTimer->start();
}

void VelmoraCom::sendKeepalive()
{
    keepaliveTimer->stop();
    const QString lineText = VelmoraReceiverFormat::keepaliveLine(settings.server, settings.line);
    const bool acknowledged = exchange.sendKeepalive(lineText);
    VelmoraMetrics::instance().keepalivesSent.add();

    if (acknowledged) {
        VelmoraMetrics::instance().keepalivesAcknowledged.add();
        VelmoraMetrics::instance().lineAnswered();
        restartKeepaliveTimer();
        report(VelmoraComReport(Prefix::Short).translated(QT_TR_NOOP(" COMMSG: Keepalive ")));
        setLineState(queue.inLineFault() ? SVelmoraLineState::RefusingEvents : SVelmoraLineState::Answering);
        reportNotice(queue.keepaliveAnswered(true));
        continueSending(false);
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
    setLineState(SVelmoraLineState::NotAnswering);
}

void VelmoraCom::finishEvent(const VelmoraHeldQueue::Finished &finished)
{
    if (finished.setAside)
        setAside(finished.setAsideMsg, finished.setAsideAttempts);
    const qint64 journalId = finished.msg.journalId;
    if (journalId != 0 && eventStore)
        eventStore->markDelivered(journalId);
    VelmoraMetrics::instance().eventsDelivered.add();
    if (finished.msg.receivedAt.isValid()) {
        VelmoraMetrics::instance().deliveryLatency.observeUs(
            (QDateTime::currentMSecsSinceEpoch() - finished.msg.receivedAt.toMSecsSinceEpoch()) * 1000);
    }
    updateHeldCount();
    absenceRetryTimer->stop();
    reportNotice(finished.notice);
}

void VelmoraCom::setAside(const SVelmoraMsg &msg, int attempts)
{
    report(VelmoraComReport(Prefix::Short)
               .translated(QT_TR_NOOP(" Refused by the monitoring software, set aside: "))
               .plain(eventLineOf(msg)));
    if (msg.journalId != 0 && eventStore)
        eventStore->markRefused(msg.journalId);
    setAsideEvents.append(SetAsideEvent{msg, attempts, msg.journalId != 0 ? msg.journalId : nextLocalKey--});
    VelmoraMetrics::instance().eventsSetAsideTotal.add();
    setLineState(lineState.kind, lineState.reason);
}

bool VelmoraCom::takeSetAside(qint64 key, SVelmoraMsg *msg)
{
    for (int index = 0; index < setAsideEvents.size(); ++index) {
        if (setAsideEvents.at(index).key != key)
            continue;
        *msg = setAsideEvents.at(index).msg;
        setAsideEvents.remove(index);
        return true;
    }
    return false;
}

void VelmoraCom::sendAgainSlot(qint64 key)
{
    SVelmoraMsg msg;
    if (!takeSetAside(key, &msg))
        return;
    report(VelmoraComReport(Prefix::Short)
               .translated(QT_TR_NOOP(" Sent again by the operator: "))
               .plain(eventLineOf(msg)));
    // Pending in the journal before it is held, so that a mark made by its
    // delivery always follows this one.
    if (msg.journalId != 0 && eventStore)
        eventStore->markRequeued(msg.journalId);
    queue.add(msg);
    updateHeldCount();
    setLineState(lineState.kind, lineState.reason);
    if (portOpen())
        continueSending(false);
}

void VelmoraCom::releaseSlot(qint64 key)
{
    SVelmoraMsg msg;
    if (!takeSetAside(key, &msg))
        return;
    report(VelmoraComReport(Prefix::Short)
               .translated(QT_TR_NOOP(" Released by the operator, not sent: "))
               .plain(eventLineOf(msg)));
    if (msg.journalId != 0 && eventStore)
        eventStore->markReleased(msg.journalId);
    noteHeldChanged();
    setLineState(lineState.kind, lineState.reason);
}

void VelmoraCom::setHeldRowsWanted(bool wanted)
{
    heldRowsWanted = wanted;
    if (!wanted) {
        heldRowsTimer->stop();
        return;
    }
    sendHeldRows();
}

void VelmoraCom::noteHeldChanged()
{
    if (heldRowsWanted && !heldRowsTimer->isActive())
        heldRowsTimer->start();
}

void VelmoraCom::sendHeldRows()
{
    if (!heldRowsWanted)
        return;
    SVelmoraHeldRows rows;
    const QVector<VelmoraHeldQueue::HeldView> held = queue.heldEvents();
    rows.reserve(held.size() + setAsideEvents.size());
    for (const VelmoraHeldQueue::HeldView &view : held) {
        rows.append(SVelmoraHeldRow{view.msg, eventLineOf(view.msg), view.attempts,
                                    view.onTrial ? SVelmoraHeldRow::Refused : SVelmoraHeldRow::Waiting,
                                    view.msg.journalId});
    }
    for (const SetAsideEvent &entry : qAsConst(setAsideEvents))
        rows.append(SVelmoraHeldRow{entry.msg, eventLineOf(entry.msg), entry.attempts, SVelmoraHeldRow::SetAside, entry.key});
    std::stable_sort(rows.begin(), rows.end(), [](const SVelmoraHeldRow &left, const SVelmoraHeldRow &right) {
        const qint64 leftTime = left.msg.receivedAt.isValid() ? left.msg.receivedAt.toMSecsSinceEpoch() : 0;
        const qint64 rightTime = right.msg.receivedAt.isValid() ? right.msg.receivedAt.toMSecsSinceEpoch() : 0;
        if (leftTime != rightTime)
            return leftTime < rightTime;
        return left.msg.journalId < right.msg.journalId;
    });
    // A long backlog makes each list costly to build here and to show there:
    // the next one waits longer, so that exchanges are not held up by lists.
    heldRowsTimer->setInterval(qMax(kHeldRowsIntervalMs, rows.size() / kHeldRowsPerMs));
    emit heldRowsSignal(rows);
}

void VelmoraCom::setLineState(SVelmoraLineState::Kind kind, const QString &reason)
{
    SVelmoraLineState next = lineState;
    if (kind != lineState.kind) {
        next.kind = kind;
        next.since = QDateTime::currentDateTime();
    }
    next.reason = kind == SVelmoraLineState::PortClosed ? reason : QString();
    next.setAside = setAsideEvents.size();
    if (next == lineState)
        return;
    lineState = next;
    VelmoraMetrics::instance().setLineState(metricsLineState(kind));
    VelmoraMetrics::instance().eventsSetAside.set(next.setAside);
    emit lineStateSignal(lineState);
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
    case VelmoraHeldQueue::Notice::LineFaultOver:
        report(VelmoraComReport(Prefix::Short)
                   .translatedCount(QT_TR_NOOP(" Line fault over: the monitoring software accepts "
                                               "event lines again; held events to send: %1"),
                                    queue.size()));
        return;
    }
}

void VelmoraCom::updateHeldCount()
{
    heldEvents.store(queue.size());
    VelmoraMetrics::instance().eventsHeld.set(queue.size());
    noteHeldChanged();
}

void VelmoraCom::report(const VelmoraComReport &line)
{
    VelmoraCommon_LogError(line.file);
    emit logSignal(line.screen);
}
