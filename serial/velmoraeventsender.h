#ifndef VELMORAEVENTSENDER_H
#define VELMORAEVENTSENDER_H

#include "svelmoracomsettings.h"
#include "svelmoralinestate.h"

#include <QObject>

class VelmoraClock;
class VelmoraComPort;
class VelmoraComReport;
class VelmoraHeldEvents;
class VelmoraTimer;

// Writing the held events to the monitoring software, one exchange at a
// time, and what follows each: the next event on the next pass of the event
// loop, or, while the software is absent or the line at fault, the first
// held event tried again every absence retry interval.
class VelmoraEventSender : public QObject
{
    Q_OBJECT

public:
    VelmoraEventSender(VelmoraClock &clock, VelmoraComPort &port, VelmoraHeldEvents &held,
                       const SVelmoraComSettings &settings, QObject *parent = nullptr);

    // The output the events go to from now on.
    void setPort(VelmoraComPort &output) { port = &output; }
    // The next event, now.
    void sendNow();
    // The next event on the next pass of the event loop.
    void schedule();
    // After an exchange: the next event soon, the retry timer, or nothing.
    void continueSending(bool restartRetry);
    void stopRetry();

signals:
    void reportSignal(const VelmoraComReport &line);
    void lineStateSignal(SVelmoraLineState::Kind kind);
    // An event line was acknowledged: the line is alive.
    void acknowledgedSignal();
    // The device went away during the exchange; the event is still held.
    void lineGoneSignal();
    // An event line went unanswered after all its writes.
    void unansweredSignal();

private:
    void sendScheduled();
    void retryHeldEvent();
    void handleRefusal(const QString &lineText);

    VelmoraComPort *port;
    VelmoraHeldEvents &held;
    const SVelmoraComSettings &settings;
    VelmoraTimer *absenceRetryTimer = nullptr;
    bool sendPending = false;
};

#endif // VELMORAEVENTSENDER_H
