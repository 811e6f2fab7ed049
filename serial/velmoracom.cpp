#include "velmoracom.h"

#include "velmoracomport.h"
#include "velmoracomreport.h"
#include "velmoraeventsender.h"
#include "velmoraheldevents.h"
#include "velmorakeepalive.h"
#include "velmoralinestates.h"
#include "velmoralog.h"
#include "velmorametrics.h"

#include <QCoreApplication>

VelmoraCom::VelmoraCom(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent),
      clock(clockToUse),
      port(new VelmoraComPort(clock, settings, this)),
      fallbackPort(new VelmoraComPort(clock, fallbackSettings, this)),
      held(new VelmoraHeldEvents(clock, settings, this)),
      sender(new VelmoraEventSender(clock, *port, *held, settings, this)),
      keepalive(new VelmoraKeepalive(clock, *port, *held, settings, this)),
      fallbackKeepalive(new VelmoraKeepalive(clock, *fallbackPort, *held, fallbackSettings, this)),
      lineStates(new VelmoraLineStates(clock, this))
{
    connect(lineStates, &VelmoraLineStates::changedSignal, this, &VelmoraCom::lineStateSignal);

    for (const Output output : {Output::Primary, Output::Fallback}) {
        VelmoraComPort *outputPort = portOf(output);
        VelmoraKeepalive *outputKeepalive = keepaliveOf(output);
        connect(outputPort, &VelmoraComPort::reportSignal, this, &VelmoraCom::report);
        connect(outputKeepalive, &VelmoraKeepalive::reportSignal, this, &VelmoraCom::report);
        connect(outputPort, &VelmoraComPort::openedSignal, this, [this, output] { portOpened(output); });
        connect(outputPort, &VelmoraComPort::closedSignal, this,
                [this, output](const QString &reason) { portClosed(output, reason); });
        connect(outputKeepalive, &VelmoraKeepalive::lineGoneSignal, outputPort, &VelmoraComPort::lose);
        connect(outputKeepalive, &VelmoraKeepalive::lineStateSignal, this,
                [this, output](SVelmoraLineState::Kind kind) { lineStates->setKind(output, kind); });
        connect(outputKeepalive, &VelmoraKeepalive::acknowledgedSignal, this, [this, output] { outputAnswered(output); });
        connect(outputKeepalive, &VelmoraKeepalive::unansweredSignal, this,
                [this, output] { outputAbsent(output, false); });
        connect(outputKeepalive, &VelmoraKeepalive::answeredSignal, sender, [this] { sender->continueSending(false); });
        outputKeepalive->setTakesEvents([this, output] { return chooser.inUse() == output; });
    }
    connect(held, &VelmoraHeldEvents::reportSignal, this, &VelmoraCom::report);
    connect(sender, &VelmoraEventSender::reportSignal, this, &VelmoraCom::report);

    connect(sender, &VelmoraEventSender::lineStateSignal, this,
            [this](SVelmoraLineState::Kind kind) { lineStates->setKind(chooser.inUse(), kind); });
    connect(held, &VelmoraHeldEvents::setAsideChangedSignal, this,
            [this] { lineStates->setSetAside(held->queue().setAsideCount()); });

    connect(sender, &VelmoraEventSender::lineGoneSignal, this, [this] { portInUse()->lose(); });
    connect(sender, &VelmoraEventSender::acknowledgedSignal, this, [this] {
        keepaliveOf(chooser.inUse())->restart();
        outputAnswered(chooser.inUse());
    });
    connect(sender, &VelmoraEventSender::unansweredSignal, this, [this] { outputAbsent(chooser.inUse(), false); });
    connect(held, &VelmoraHeldEvents::heldRowsSignal, this, &VelmoraCom::heldRowsSignal);
}

VelmoraCom::~VelmoraCom() = default;

void VelmoraCom::setEventStore(VelmoraEventStore *store)
{
    held->setEventStore(store);
    const int setAside = held->queue().setAsideCount();
    const bool changed = setAside != lineStates->current().setAside;
    lineStates->setSetAside(setAside);
    if (!changed)
        lineStates->announce();
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
    fallbackSettings = value;
    fallbackSettings.portName = value.fallbackName;
    VelmoraMetrics::instance().keepalivePeriodMs.set(settings.timing.keepaliveMs);
}

void VelmoraCom::startWith(const SVelmoraComSettings &value)
{
    setSettings(value);
    chooser.reset(hasFallback());
    sender->setPort(*port);
    lineStates->setFallback(hasFallback() ? settings.fallbackName : QString());
    const bool primaryOpened = port->start();
    const bool fallbackOpened = hasFallback() && fallbackPort->start();
    // The devices are refused only while no output at all could open.
    if (!primaryOpened && !fallbackOpened)
        emit stopSignal();
}

int VelmoraCom::heldCount() const
{
    return held->count();
}

void VelmoraCom::holdEvent(const SVelmoraMsg &msg)
{
    if (held->hold(msg) && portInUse()->isOpen() && held->queue().mayWriteEvents())
        sender->schedule();
}

void VelmoraCom::msgSlot(SVelmoraMsg msg)
{
    msgsSlot({msg});
}

void VelmoraCom::msgsSlot(QVector<SVelmoraMsg> msgs)
{
    const bool nothingAhead = held->queue().isEmpty();
    VelmoraComPort *output = portInUse();
    bool added = false;
    for (const SVelmoraMsg &msg : qAsConst(msgs)) {
        if (!held->hold(msg))
            continue;
        added = true;
        if (!output->isOpen()) {
            report(VelmoraComReport(VelmoraComReport::Short)
                       .translated(QT_TR_NOOP(" Couldn't write to "))
                       .plain(output->name()));
        }
    }
    if (!added || !output->isOpen() || !held->queue().mayWriteEvents())
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
    stopping = true;
    port->close();
    if (hasFallback())
        fallbackPort->close();
    stopping = false;
}

void VelmoraCom::keepaliveSlot()
{
    keepalive->sendNow();
}

void VelmoraCom::sendAgainSlot(qint64 key)
{
    if (held->sendAgain(key) && portInUse()->isOpen())
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

void VelmoraCom::portOpened(Output output)
{
    emit portReadySignal();
    lineStates->setKind(output, SVelmoraLineState::PortOpen);
    VelmoraKeepalive *outputKeepalive = keepaliveOf(output);
    outputKeepalive->restart();
    if (chooser.inUse() != output) {
        // Whether it answers is asked at once: the fallback has to be known
        // before the primary fails, and the primary takes the events back
        // as soon as it answers.
        outputKeepalive->sendNow();
        return;
    }
    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them.
    held->queue().portOpened();
    sender->continueSending(true);
    if (output == Output::Fallback)
        outputKeepalive->sendNow();
}

void VelmoraCom::portClosed(Output output, const QString &reason)
{
    keepaliveOf(output)->stop();
    if (chooser.inUse() == output)
        sender->stopRetry();
    lineStates->setKind(output, SVelmoraLineState::PortClosed, reason);
    if (!stopping)
        outputAbsent(output, true);
}

void VelmoraCom::outputAnswered(Output output)
{
    switched(chooser.answered(output));
}

void VelmoraCom::outputAbsent(Output output, bool closed)
{
    const VelmoraOutputChooser::Switch why = chooser.absent(output, closed);
    // The primary left: the fallback may answer though nobody asked it
    // since its last keepalive.
    if (why == VelmoraOutputChooser::Switch::None && output == Output::Primary && chooser.hasFallback()
        && chooser.inUse() == Output::Primary && fallbackPort->isOpen() && !chooser.answering(Output::Fallback)) {
        fallbackKeepalive->sendNow();
        return;
    }
    switched(why);
}

void VelmoraCom::switched(VelmoraOutputChooser::Switch why)
{
    using Switch = VelmoraOutputChooser::Switch;
    const char *reason = nullptr;
    switch (why) {
    case Switch::None:
        return;
    case Switch::PrimaryNotAnswering:
        reason = QT_TR_NOOP("the primary output does not acknowledge");
        break;
    case Switch::PrimaryClosed:
        reason = QT_TR_NOOP("the primary output is closed");
        break;
    case Switch::FallbackAnswers:
        reason = QT_TR_NOOP("the fallback answers and the primary is absent");
        break;
    case Switch::PrimaryAnswers:
        reason = QT_TR_NOOP("the primary output answers its keepalive again");
        break;
    }
    const Output output = chooser.inUse();
    report(VelmoraComReport(VelmoraComReport::Short)
               .translated(output == Output::Fallback ? QT_TR_NOOP(" Events now go to the fallback output ")
                                                      : QT_TR_NOOP(" Events now go to the primary output "))
               .plain(portOf(output)->name())
               .plain(QStringLiteral(": "))
               .translated(reason)
               .plain(why == Switch::PrimaryClosed ? QStringLiteral(" (") + lineStates->current().reason + QLatin1Char(')')
                                                   : QString()));
    sender->setPort(*portOf(output));
    lineStates->setOutputInUse(output);
    // An output that just answered a keepalive goes on from its keepalive;
    // the fallback, known to answer, takes the held events at once.
    if (why == Switch::PrimaryNotAnswering || why == Switch::PrimaryClosed) {
        held->queue().portOpened();
        sender->continueSending(true);
    }
}

void VelmoraCom::report(const VelmoraComReport &report)
{
    const SVelmoraLogLine line = report.line();
    line.writeToDayLog();
    emit logSignal(line.screenText);
}
