#include "velmoraeventsender.h"

#include "velmorametrics.h"

#include "velmoraclock.h"
#include "velmoracomport.h"
#include "velmoracomreport.h"
#include "velmoraheldevents.h"

namespace {

using Prefix = VelmoraComReport::Prefix;

} // namespace

VelmoraEventSender::VelmoraEventSender(VelmoraClock &clock, VelmoraComPort &portToUse, VelmoraHeldEvents &heldEvents,
                                       const SVelmoraComSettings &settingsToUse, QObject *parent)
    : QObject(parent),
      port(&portToUse),
      held(heldEvents),
      settings(settingsToUse),
      absenceRetryTimer(new VelmoraTimer(clock, this))
{
    absenceRetryTimer->setSingleShot(true);
    connect(absenceRetryTimer, &VelmoraTimer::timeout, this, &VelmoraEventSender::retryHeldEvent);
}

void VelmoraEventSender::schedule()
{
    // One event per pass through the event loop, so that stop, start and
    // keepalive requests are not kept waiting behind a long queue.
    if (sendPending)
        return;
    sendPending = true;
    QMetaObject::invokeMethod(this, &VelmoraEventSender::sendScheduled, Qt::QueuedConnection);
}

void VelmoraEventSender::sendScheduled()
{
    sendPending = false;
    const VelmoraHeldQueue &queue = held.queue();
    if (queue.isEmpty() || !queue.mayWriteEvents() || !port->isOpen())
        return;
    sendNow();
}

void VelmoraEventSender::retryHeldEvent()
{
    const VelmoraHeldQueue &queue = held.queue();
    if (queue.isEmpty() || queue.mayWriteEvents() || !port->isOpen())
        return;
    sendNow();
}

void VelmoraEventSender::stopRetry()
{
    absenceRetryTimer->stop();
}

void VelmoraEventSender::sendNow()
{
    VelmoraHeldQueue &queue = held.queue();
    const QString lineText = settings.eventLine(queue.next());
    held.noteSending(queue.next());
    const auto countRefusal = [&queue](bool refusal) { return queue.countAnswer(refusal); };
    held.noteChanged();

    switch (port->exchange().sendEvent(lineText, countRefusal)) {
    case VelmoraExchange::Result::Acknowledged:
        VelmoraMetrics::instance().lineAnswered();
        emit reportSignal(VelmoraComReport(Prefix::Spaced).plain(QStringLiteral("COMMSG: ") + lineText));
        emit acknowledgedSignal();
        emit lineStateSignal(SVelmoraLineState::Answering);
        held.finishNext();
        absenceRetryTimer->stop();
        break;
    case VelmoraExchange::Result::Refused:
        handleRefusal(lineText);
        break;
    case VelmoraExchange::Result::NotAcknowledged:
        emit reportSignal(VelmoraComReport(Prefix::Short)
                              .translated(QT_TRANSLATE_NOOP("VelmoraCom", "Writing "))
                              .plain(port->name())
                              .translated(QT_TRANSLATE_NOOP("VelmoraCom", " to "))
                              .translated(QT_TRANSLATE_NOOP("VelmoraCom", " was failed! Packet:\n"))
                              .plain(lineText));
        held.reportNotice(queue.failNext());
        if (!queue.inLineFault())
            emit lineStateSignal(SVelmoraLineState::NotAnswering);
        emit unansweredSignal();
        break;
    case VelmoraExchange::Result::LineGone:
        emit lineGoneSignal();
        return;
    }
    continueSending(true);
}

void VelmoraEventSender::handleRefusal(const QString &lineText)
{
    SVelmoraMsg setAsideMsg;
    switch (held.queue().refuseNext(&setAsideMsg)) {
    case VelmoraHeldQueue::Refusal::OnTrial:
        emit reportSignal(VelmoraComReport(Prefix::Short)
                              .translated(QT_TRANSLATE_NOOP("VelmoraCom",
                                                            " Refused by the monitoring software; kept until the next "
                                                            "event shows whether the line is at fault: "))
                              .plain(lineText));
        emit lineStateSignal(SVelmoraLineState::Answering);
        return;
    case VelmoraHeldQueue::Refusal::LineFault:
        emit reportSignal(VelmoraComReport(Prefix::Short)
                              .translated(QT_TRANSLATE_NOOP("VelmoraCom",
                                                            " Line fault: the monitoring software refuses every event "
                                                            "line; all events are held in order and the first is "
                                                            "tried again. Refused: "))
                              .plain(lineText));
        emit lineStateSignal(SVelmoraLineState::RefusingEvents);
        return;
    case VelmoraHeldQueue::Refusal::StillHeld:
        return;
    case VelmoraHeldQueue::Refusal::SetAside:
        held.noteSetAside(setAsideMsg);
        emit lineStateSignal(SVelmoraLineState::Answering);
        return;
    }
}

void VelmoraEventSender::continueSending(bool restartRetry)
{
    held.noteChanged();
    const VelmoraHeldQueue &queue = held.queue();
    if (queue.mayWriteEvents()) {
        absenceRetryTimer->stop();
        if (!queue.isEmpty())
            schedule();
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
        absenceRetryTimer->start(settings.timing.absenceRetryMs);
}
