#include "velmorakeepalive.h"

#include "velmorametrics.h"

#include "velmoraclock.h"
#include "velmoracomport.h"
#include "velmoracomreport.h"
#include "velmoraheldevents.h"
#include "velmorareceiverformat.h"

namespace {

using Prefix = VelmoraComReport::Prefix;

} // namespace

VelmoraKeepalive::VelmoraKeepalive(VelmoraClock &clock, VelmoraComPort &portToUse, VelmoraHeldEvents &heldEvents,
                                   const SVelmoraComSettings &settingsToUse, QObject *parent)
    : QObject(parent), port(portToUse), held(heldEvents), settings(settingsToUse), timer(new VelmoraTimer(clock, this))
{
    timer->setSingleShot(true);
    connect(timer, &VelmoraTimer::timeout, this, &VelmoraKeepalive::sendNow);
}

void VelmoraKeepalive::restart()
{
    if (settings.timing.keepaliveMs > 0)
        timer->start(settings.timing.keepaliveMs);
}

void VelmoraKeepalive::stop()
{
    timer->stop();
}

void VelmoraKeepalive::sendNow()
{
    timer->stop();
    const QString lineText = VelmoraReceiverFormat::keepaliveLine(settings.server, settings.line);
    VelmoraExchange &exchange = port.exchange();
    VelmoraHeldQueue &queue = held.queue();

    const bool acknowledged = exchange.sendKeepalive(lineText);
    VelmoraMetrics::instance().keepalivesSent.add();
    if (acknowledged) {
        VelmoraMetrics::instance().keepalivesAcknowledged.add();
        VelmoraMetrics::instance().lineAnswered();
        restart();
        emit reportSignal(VelmoraComReport(Prefix::Short).translated(QT_TRANSLATE_NOOP("VelmoraCom", " COMMSG: Keepalive ")));
        emit acknowledgedSignal();
        if (takesEvents && !takesEvents()) {
            emit lineStateSignal(SVelmoraLineState::Answering);
            return;
        }
        emit lineStateSignal(queue.inLineFault() ? SVelmoraLineState::RefusingEvents : SVelmoraLineState::Answering);
        held.reportNotice(queue.keepaliveAnswered(true));
        emit answeredSignal();
        return;
    }
    if (exchange.lineGone()) {
        emit lineGoneSignal();
        return;
    }
    emit reportSignal(VelmoraComReport(Prefix::Short).translated(QT_TRANSLATE_NOOP("VelmoraCom", " ERROR COMMSG: Keepalive ")));
    // A request that was already on its way when the port closed must not
    // start the timer again: keepalives stop with the port.
    if (port.isOpen())
        restart();
    if (!takesEvents || takesEvents())
        queue.keepaliveAnswered(false);
    emit lineStateSignal(SVelmoraLineState::NotAnswering);
    emit unansweredSignal();
}
