#ifndef VELMORALINEALERT_H
#define VELMORALINEALERT_H

#include "svelmoralinestate.h"

#include <QDateTime>
#include <QObject>

#include <functional>

class VelmoraClock;
class VelmoraTimer;

// The alert nobody can miss while alarms do not get through: raised when no
// output to the monitoring software answers, or the one in use refuses every
// event line, for longer than a moment (a port closed and opened again for
// new settings raises nothing); it sounds at once and every kBeepIntervalMs
// until the operator silences it, and is lowered when an output answers
// again. A new failure sounds again. The window shows it; the sound is the
// hook it is handed.
class VelmoraLineAlert : public QObject
{
    Q_OBJECT

public:
    static constexpr int kBeepIntervalMs = 10000;
    static constexpr int kSettleMs = 1000;

    VelmoraLineAlert(VelmoraClock &clock, std::function<void()> beep, QObject *parent = nullptr);

    void setLineState(const SVelmoraLineState &state);
    // The operator's "Silence": no more sound for this failure.
    void silence();

    bool isRaised() const { return raised; }
    bool isSilenced() const { return silenced; }
    // When the alert was raised.
    QDateTime since() const { return raisedAt; }
    const SVelmoraLineState &lineState() const { return state; }

signals:
    // Raised, lowered or silenced.
    void changedSignal();

private:
    void raise();

    VelmoraClock &clock;
    std::function<void()> beep;
    VelmoraTimer *settleTimer = nullptr;
    VelmoraTimer *beepTimer = nullptr;
    SVelmoraLineState state;
    bool raised = false;
    bool silenced = false;
    QDateTime raisedAt;
};

#endif // VELMORALINEALERT_H
