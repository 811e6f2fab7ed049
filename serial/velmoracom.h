#ifndef VELMORACOM_H
#define VELMORACOM_H

#include "svelmoracomsettings.h"
#include "svelmoraheldrow.h"
#include "svelmoralinestate.h"
#include "svelmoramsg.h"
#include "velmoraexchange.h"
#include "velmoraheldqueue.h"

#include <QObject>
#include <QString>
#include <QVector>

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

    // Held-event lists go out at most this often while they are wanted, and
    // after a long list no sooner than a millisecond per kHeldRowsPerMs rows.
    static constexpr int kHeldRowsIntervalMs = 250;
    static constexpr int kHeldRowsPerMs = 50;

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
    // The line's state changed, or the number of events set aside.
    void lineStateSignal(SVelmoraLineState state);
    // Every held and set-aside event, oldest first; only while wanted.
    void heldRowsSignal(SVelmoraHeldRows rows);

public slots:
    void msgSlot(SVelmoraMsg msg);
    // Events that arrived together: all of them join the queue before the
    // next one is chosen, so the fair order holds from the first line.
    void msgsSlot(QVector<SVelmoraMsg> msgs);
    void timeoutSlot();
    void stopSlot();
    void startSlot();
    void keepaliveSlot();
    void restartKeepaliveTimer();
    void stopKeepaliveTimer();
    // The operator's answers to a set-aside event, named by its row key:
    // back into the held events at the end of the fair order, or let go.
    void sendAgainSlot(qint64 key);
    void releaseSlot(qint64 key);
    // A list is shown: held-event lists go out from now on, the first at once.
    void setHeldRowsWanted(bool wanted);

private slots:
    void sendNextEvent();
    void retryHeldEvent();
    void reopenPort();
    void sendHeldRows();

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
    void finishEvent(const VelmoraHeldQueue::Finished &finished);
    void handleRefusal(const QString &lineText);
    // After an exchange: the next event soon, the retry timer, or nothing.
    void continueSending(bool restartRetry);
    void setAside(const SVelmoraMsg &msg, int attempts);
    // The set-aside entry with this key, taken out of the list; false when
    // there is none (the operator answered it already).
    bool takeSetAside(qint64 key, SVelmoraMsg *msg);
    QString eventLineOf(const SVelmoraMsg &msg) const;
    void reportNotice(VelmoraHeldQueue::Notice notice);
    void updateHeldCount();
    // A held-event list is due, at most every kHeldRowsIntervalMs.
    void noteHeldChanged();
    void setLineState(SVelmoraLineState::Kind kind, const QString &reason = QString());
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

    struct SetAsideEvent
    {
        SVelmoraMsg msg;
        int attempts = 0;
        qint64 key = 0;
    };
    // Refused events, kept until the operator sends them again or lets them
    // go; oldest first.
    QVector<SetAsideEvent> setAsideEvents;
    // Keys of set-aside events that were never journaled count down from -1.
    qint64 nextLocalKey = -1;
    SVelmoraLineState lineState;
    bool heldRowsWanted = false;
    QTimer *heldRowsTimer = nullptr;
};

#endif // VELMORACOM_H
