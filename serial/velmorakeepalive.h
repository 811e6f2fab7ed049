#ifndef VELMORAKEEPALIVE_H
#define VELMORAKEEPALIVE_H

#include "svelmoracomsettings.h"
#include "svelmoralinestate.h"

#include <QObject>

#include <functional>

class VelmoraClock;
class VelmoraComPort;
class VelmoraComReport;
class VelmoraHeldEvents;
class VelmoraTimer;

// The keepalive line: written when no line has been acknowledged for the
// keepalive period, and the only sign, while the software is absent, that
// it is back.
class VelmoraKeepalive : public QObject
{
    Q_OBJECT

public:
    VelmoraKeepalive(VelmoraClock &clock, VelmoraComPort &port, VelmoraHeldEvents &held,
                     const SVelmoraComSettings &settings, QObject *parent = nullptr);

    // The period starts again; nothing with a period of 0.
    void restart();
    void stop();
    // One keepalive exchange, now.
    void sendNow();
    // Whether this output's answers speak for the held events: only the
    // output that takes them does. Unset: always.
    void setTakesEvents(std::function<bool()> test) { takesEvents = std::move(test); }

signals:
    void reportSignal(const VelmoraComReport &line);
    void lineStateSignal(SVelmoraLineState::Kind kind);
    // Acknowledged: held events may go out again.
    void answeredSignal();
    // Acknowledged, or not, whichever output it is, before anything else
    // is done about the answer.
    void acknowledgedSignal();
    void unansweredSignal();
    void lineGoneSignal();

private:
    VelmoraComPort &port;
    VelmoraHeldEvents &held;
    const SVelmoraComSettings &settings;
    VelmoraTimer *timer = nullptr;
    std::function<bool()> takesEvents;
};

#endif // VELMORAKEEPALIVE_H
