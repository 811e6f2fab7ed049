#ifndef VELMORACOM_H
#define VELMORACOM_H

#include "svelmoracomsettings.h"
#include "svelmoramsg.h"
#include "velmoraexchange.h"
#include "velmoraheldqueue.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

class QTimer;
class ReceiverLine;
class VelmoraComReport;
class VelmoraEventStore;

// The serial worker: lives in the serial thread and owns the port, the held
// events and the keepalive timer. It runs, one after another, the opens,
// closes, event exchanges and keepalive exchanges, so none of them overlaps.
class VelmoraCom : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraCom(QObject *parent = nullptr);
    ~VelmoraCom() override;

    // Before any event arrives; the store's pending events are held at once,
    // ahead of everything that comes later. Null: nothing is marked.
    void setEventStore(VelmoraEventStore *store);
    // Takes the settings for the next open; in this object's thread.
    void setSettings(const SVelmoraComSettings &settings);
    // The settings, then the open, in one call.
    void startWith(const SVelmoraComSettings &settings);
    // Holds an event without a word in the log: the store's pending events
    // and those that came before this worker existed.
    void holdEvent(const SVelmoraMsg &msg);

    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const { return heldEvents.load(); }

signals:
    void logSignal(QString text);
    // The port could not be opened or configured at a start request; it is
    // tried again on its own.
    void stopSignal();
    // The port opened and is ready, also when it opened on a retry.
    void portReadySignal();
    // The keepalive period starts again, or keepalives stop.
    void timerStartSignal();
    void timerStopSignal();

public slots:
    void msgSlot(SVelmoraMsg msg);
    void timeoutSlot();
    void stopSlot();
    void startSlot();
    void keepaliveSlot();
    void restartKeepaliveTimer();
    void stopKeepaliveTimer();

private slots:
    void sendNextEvent();
    void retryHeldEvent();
    void reopenPort();

private:
    // A start request: every line reported, the receiver stopped on failure.
    void openPort();
    // A closed line is made anew for the configured name.
    void chooseLine();
    // The open sequence; on failure the port is closed and tried again
    // later, and the failure is reported unless it is the one reported last.
    bool tryOpen();
    void closePort();
    // The device went away while open: said once, then tried again.
    void lineGone();
    bool portOpen() const;

    void scheduleSend();
    void sendEvent();
    void sendKeepalive();
    // Marks the event in the store and logs a change of state.
    void finishEvent(const VelmoraHeldQueue::Finished &finished, bool delivered);
    void reportNotice(VelmoraHeldQueue::Notice notice);
    void updateHeldCount();
    void report(const VelmoraComReport &line);

    // The line chosen by the port's name: a serial port or a TCP connection.
    std::unique_ptr<ReceiverLine> portHandle;
    VelmoraExchange exchange;
    SVelmoraComSettings settings;
    VelmoraEventStore *eventStore = nullptr;
    VelmoraHeldQueue queue;
    std::atomic<int> heldEvents{0};
    bool sendScheduled = false;
    QTimer *keepaliveTimer = nullptr;
    QTimer *absenceRetryTimer = nullptr;
    QTimer *reopenTimer = nullptr;
    // The open failure last reported: its step and the system's reason.
    int reportedFailureStep = -1;
    QString reportedFailureReason;
};

#endif // VELMORACOM_H
