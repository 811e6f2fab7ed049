#ifndef VELMORACOM_H
#define VELMORACOM_H

#include "svelmoracomsettings.h"
#include "svelmoraheldrow.h"
#include "svelmoralinestate.h"
#include "svelmoramsg.h"
#include "velmoraclock.h"
#include "velmoraoutputchooser.h"

#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

class VelmoraComPort;
class VelmoraComReport;
class VelmoraEventSender;
class VelmoraEventStore;
class VelmoraHeldEvents;
class VelmoraKeepalive;
class VelmoraLineStates;

// The serial worker: lives in the serial thread and runs, one after another,
// the opens, closes, event exchanges and keepalive exchanges, so none of them
// overlaps. Its parts each do one job: the port's life (VelmoraComPort), the
// held and set-aside events (VelmoraHeldEvents), the event exchanges and
// their retries (VelmoraEventSender) and the keepalive (VelmoraKeepalive);
// the worker takes the requests, keeps the line's state (VelmoraLineStates)
// and writes the log.
// With a fallback output configured it has a second port and keepalive, and
// its output chooser (VelmoraOutputChooser) says which of the two the events
// go to; without one, the second pair is never opened.
class VelmoraCom : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraCom(VelmoraClock &clock = VelmoraClock::system(), QObject *parent = nullptr);
    ~VelmoraCom() override;

    // Before any event arrives; the store's pending events are held at once,
    // ahead of everything that comes later. Null: nothing is marked.
    void setEventStore(VelmoraEventStore *store);
    // Lines go out only while gate answers true; asked before each write.
    void setOutputGate(std::function<bool()> gate);
    // Takes the settings for the next open; in this object's thread.
    void setSettings(const SVelmoraComSettings &settings);
    // The settings, then the open, in one call.
    void startWith(const SVelmoraComSettings &settings);
    // Holds an event without a word in the log: the store's pending events
    // and those that came before this worker existed.
    void holdEvent(const SVelmoraMsg &msg);

    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const;

signals:
    void logSignal(QString text);
    // The port could not be opened or configured at a start request; it is
    // tried again on its own.
    void stopSignal();
    // The port opened and is ready, also when it opened on a retry.
    void portReadySignal();
    // The line's state changed, or the number of events set aside.
    void lineStateSignal(SVelmoraLineState state);
    // Every held and set-aside event, oldest first; only while wanted.
    void heldRowsSignal(SVelmoraHeldRows rows);

public slots:
    void msgSlot(SVelmoraMsg msg);
    // Events that arrived together: all of them join the queue before the
    // next one is chosen, so the fair order holds from the first line.
    void msgsSlot(QVector<SVelmoraMsg> msgs);
    void stopSlot();
    // A keepalive exchange now, whether the port is open or not.
    void keepaliveSlot();
    // The operator's answers to a set-aside event, named by its row key:
    // back into the held events at the end of the fair order, or let go.
    void sendAgainSlot(qint64 key);
    void releaseSlot(qint64 key);
    // A list is shown: held-event lists go out from now on, the first at once.
    void setHeldRowsWanted(bool wanted);
    // This instance took the shared journal's lease: the store's events are
    // held anew, whatever was held before.
    void reloadHeldSlot();
    // It lost the lease: the port closes and nothing is held any more; the
    // store keeps every event for the instance that takes over.
    void dropHeldSlot();

private:
    using Output = VelmoraOutputChooser::Output;

    // A fallback named as the primary is the same device: none.
    bool hasFallback() const
    {
        return !settings.fallbackName.isEmpty() && settings.fallbackName != settings.portName;
    }
    VelmoraComPort *portOf(Output output) const { return output == Output::Primary ? port : fallbackPort; }
    VelmoraKeepalive *keepaliveOf(Output output) const
    {
        return output == Output::Primary ? keepalive : fallbackKeepalive;
    }
    // The output the events go to.
    VelmoraComPort *portInUse() const { return portOf(chooser.inUse()); }

    void portOpened(Output output);
    void portClosed(Output output, const QString &reason);
    // What an output did, for the chooser; a switch is made and said here.
    void outputAnswered(Output output);
    void outputAbsent(Output output, bool closed);
    void switched(VelmoraOutputChooser::Switch why);
    void report(const VelmoraComReport &report);

    VelmoraClock &clock;
    SVelmoraComSettings settings;
    // The same settings with the fallback's name as the port's.
    SVelmoraComSettings fallbackSettings;
    VelmoraComPort *port = nullptr;
    VelmoraComPort *fallbackPort = nullptr;
    VelmoraHeldEvents *held = nullptr;
    VelmoraEventSender *sender = nullptr;
    VelmoraKeepalive *keepalive = nullptr;
    VelmoraKeepalive *fallbackKeepalive = nullptr;
    VelmoraLineStates *lineStates = nullptr;
    VelmoraOutputChooser chooser;
    // Both ports close on a stop request; that is no absence to switch on.
    bool stopping = false;
};

#endif // VELMORACOM_H
