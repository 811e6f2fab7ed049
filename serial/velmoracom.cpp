#include "velmoracom.h"

#include "velmoracomport.h"
#include "velmoracomreport.h"
#include "velmoraeventsender.h"
#include "velmoraheldevents.h"
#include "velmorakeepalive.h"
#include "velmoralog.h"
#include "velmorametrics.h"

#include <QCoreApplication>

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

VelmoraCom::VelmoraCom(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent),
      clock(clockToUse),
      port(new VelmoraComPort(clock, settings, this)),
      held(new VelmoraHeldEvents(clock, settings, this)),
      sender(new VelmoraEventSender(clock, *port, *held, settings, this)),
      keepalive(new VelmoraKeepalive(clock, *port, *held, settings, this))
{
    lineState.reason = QCoreApplication::translate("VelmoraCom", "not opened yet");

    connect(port, &VelmoraComPort::reportSignal, this, &VelmoraCom::report);
    connect(held, &VelmoraHeldEvents::reportSignal, this, &VelmoraCom::report);
    connect(sender, &VelmoraEventSender::reportSignal, this, &VelmoraCom::report);
    connect(keepalive, &VelmoraKeepalive::reportSignal, this, &VelmoraCom::report);

    const auto changeState = [this](SVelmoraLineState::Kind kind) { setLineState(kind); };
    connect(sender, &VelmoraEventSender::lineStateSignal, this, changeState);
    connect(keepalive, &VelmoraKeepalive::lineStateSignal, this, changeState);
    connect(held, &VelmoraHeldEvents::setAsideChangedSignal, this,
            [this] { setLineState(lineState.kind, lineState.reason); });

    connect(port, &VelmoraComPort::openedSignal, this, &VelmoraCom::portOpened);
    connect(port, &VelmoraComPort::closedSignal, this, &VelmoraCom::portClosed);
    connect(sender, &VelmoraEventSender::lineGoneSignal, port, &VelmoraComPort::lose);
    connect(keepalive, &VelmoraKeepalive::lineGoneSignal, port, &VelmoraComPort::lose);
    connect(sender, &VelmoraEventSender::acknowledgedSignal, keepalive, &VelmoraKeepalive::restart);
    connect(keepalive, &VelmoraKeepalive::answeredSignal, sender, [this] { sender->continueSending(false); });
    connect(held, &VelmoraHeldEvents::heldRowsSignal, this, &VelmoraCom::heldRowsSignal);
}

VelmoraCom::~VelmoraCom() = default;

void VelmoraCom::setEventStore(VelmoraEventStore *store)
{
    held->setEventStore(store);
    lineState.setAside = held->queue().setAsideCount();
    emit lineStateSignal(lineState);
}

void VelmoraCom::setOutputGate(std::function<bool()> gate)
{
    port->exchange().setWriteGate(std::move(gate));
}

void VelmoraCom::reloadHeldSlot()
{
    held->reload(false);
}

void VelmoraCom::dropHeldSlot()
{
    port->close();
    held->reload(true);
}

void VelmoraCom::setSettings(const SVelmoraComSettings &value)
{
    settings = value;
    VelmoraMetrics::instance().keepalivePeriodMs.set(settings.timing.keepaliveMs);
}

void VelmoraCom::startWith(const SVelmoraComSettings &value)
{
    setSettings(value);
    if (!port->start())
        emit stopSignal();
}

int VelmoraCom::heldCount() const
{
    return held->count();
}

void VelmoraCom::holdEvent(const SVelmoraMsg &msg)
{
    if (held->hold(msg) && port->isOpen() && held->queue().mayWriteEvents())
        sender->schedule();
}

void VelmoraCom::msgSlot(SVelmoraMsg msg)
{
    msgsSlot({msg});
}

void VelmoraCom::msgsSlot(QVector<SVelmoraMsg> msgs)
{
    const bool nothingAhead = held->queue().isEmpty();
    bool added = false;
    for (const SVelmoraMsg &msg : qAsConst(msgs)) {
        if (!held->hold(msg))
            continue;
        added = true;
        if (!port->isOpen()) {
            report(VelmoraComReport(VelmoraComReport::Short)
                       .translated(QT_TR_NOOP(" Couldn't write to "))
                       .plain(settings.portName));
        }
    }
    if (!added || !port->isOpen() || !held->queue().mayWriteEvents())
        return;
    // With nothing ahead of them the events start at once, before any stop
    // request that came after them; a backlog drains one event per pass.
    if (nothingAhead)
        sender->sendNow();
    else
        sender->schedule();
}

void VelmoraCom::stopSlot()
{
    port->close();
}

void VelmoraCom::keepaliveSlot()
{
    keepalive->sendNow();
}

void VelmoraCom::sendAgainSlot(qint64 key)
{
    if (held->sendAgain(key) && port->isOpen())
        sender->continueSending(false);
}

void VelmoraCom::releaseSlot(qint64 key)
{
    held->release(key);
}

void VelmoraCom::setHeldRowsWanted(bool wanted)
{
    held->setRowsWanted(wanted);
}

void VelmoraCom::portOpened()
{
    emit portReadySignal();
    setLineState(SVelmoraLineState::PortOpen);
    keepalive->restart();
    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them.
    held->queue().portOpened();
    sender->continueSending(true);
}

void VelmoraCom::portClosed(const QString &reason)
{
    keepalive->stop();
    sender->stopRetry();
    setLineState(SVelmoraLineState::PortClosed, reason);
}

void VelmoraCom::setLineState(SVelmoraLineState::Kind kind, const QString &reason)
{
    SVelmoraLineState next = lineState;
    if (kind != lineState.kind) {
        next.kind = kind;
        next.since = clock.now();
    }
    next.reason = kind == SVelmoraLineState::PortClosed ? reason : QString();
    next.setAside = held->queue().setAsideCount();
    if (next == lineState)
        return;
    lineState = next;
    VelmoraMetrics::instance().setLineState(metricsLineState(kind));
    VelmoraMetrics::instance().eventsSetAside.set(next.setAside);
    emit lineStateSignal(lineState);
}

void VelmoraCom::report(const VelmoraComReport &report)
{
    const SVelmoraLogLine line = report.line();
    line.writeToDayLog();
    emit logSignal(line.screenText);
}
