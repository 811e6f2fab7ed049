#include "velmoralinestates.h"

#include "velmoraclock.h"
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

VelmoraLineStates::VelmoraLineStates(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse)
{
    state.reason = QCoreApplication::translate("VelmoraCom", "not opened yet");
}

void VelmoraLineStates::announce()
{
    emit changedSignal(state);
}

void VelmoraLineStates::setFallback(const QString &name)
{
    SVelmoraLineState next = state;
    next.fallbackName = name;
    next.onFallback = false;
    if (name.isEmpty()) {
        next.fallbackKind = SVelmoraLineState::PortClosed;
        next.fallbackSince = QDateTime();
        next.fallbackReason.clear();
    }
    publish(next);
}

void VelmoraLineStates::setOutputInUse(VelmoraOutputChooser::Output output)
{
    SVelmoraLineState next = state;
    next.onFallback = output == VelmoraOutputChooser::Fallback;
    publish(next);
}

void VelmoraLineStates::setKind(VelmoraOutputChooser::Output output, SVelmoraLineState::Kind kind,
                                const QString &reason)
{
    SVelmoraLineState next = state;
    const bool primary = output == VelmoraOutputChooser::Primary;
    SVelmoraLineState::Kind &nextKind = primary ? next.kind : next.fallbackKind;
    if (kind != nextKind) {
        nextKind = kind;
        (primary ? next.since : next.fallbackSince) = clock.now();
    }
    (primary ? next.reason : next.fallbackReason) = kind == SVelmoraLineState::PortClosed ? reason : QString();
    publish(next);
}

void VelmoraLineStates::setSetAside(int count)
{
    SVelmoraLineState next = state;
    next.setAside = count;
    publish(next);
}

void VelmoraLineStates::publish(const SVelmoraLineState &next)
{
    if (next == state)
        return;
    state = next;
    VelmoraMetrics::instance().setLineState(metricsLineState(state.kindInUse()));
    VelmoraMetrics::instance().eventsSetAside.set(state.setAside);
    emit changedSignal(state);
}
