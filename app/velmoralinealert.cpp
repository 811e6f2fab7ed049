#include "velmoralinealert.h"

#include "velmoraclock.h"

VelmoraLineAlert::VelmoraLineAlert(VelmoraClock &clockToUse, std::function<void()> beepHook, QObject *parent)
    : QObject(parent),
      clock(clockToUse),
      beep(std::move(beepHook)),
      settleTimer(new VelmoraTimer(clock, this)),
      beepTimer(new VelmoraTimer(clock, this))
{
    settleTimer->setSingleShot(true);
    connect(settleTimer, &VelmoraTimer::timeout, this, [this] {
        if (state.failing())
            raise();
    });
    connect(beepTimer, &VelmoraTimer::timeout, this, [this] {
        if (!silenced && beep)
            beep();
    });
}

void VelmoraLineAlert::setLineState(const SVelmoraLineState &value)
{
    state = value;
    if (!state.failing()) {
        settleTimer->stop();
        if (!raised)
            return;
        raised = false;
        silenced = false;
        beepTimer->stop();
        emit changedSignal();
        return;
    }
    if (raised) {
        emit changedSignal();
        return;
    }
    if (!settleTimer->isActive())
        settleTimer->start(kSettleMs);
}

void VelmoraLineAlert::raise()
{
    raised = true;
    silenced = false;
    raisedAt = clock.now();
    if (beep)
        beep();
    beepTimer->start(kBeepIntervalMs);
    emit changedSignal();
}

void VelmoraLineAlert::silence()
{
    if (!raised || silenced)
        return;
    silenced = true;
    beepTimer->stop();
    emit changedSignal();
}
