#ifndef VELMORACOM_H
#define VELMORACOM_H

#include "svelmoracomsettings.h"
#include "svelmoramsg.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <deque>
#include <memory>

class QTimer;
class SerialPort;
class VelmoraEventStore;

// The serial worker: owns the port and runs, one after another in its own
// thread, the opens, closes, event exchanges and keepalive exchanges.
//
// Every event stays in a first-in first-out queue until the monitoring
// software acknowledges it. When an event goes unacknowledged after its
// three writes the software is taken as absent: no further event line is
// written, and the queue moves again as soon as a keepalive (or, with no
// keepalive period, a retry of the first event) is acknowledged.
class VelmoraCom : public QObject
{
    Q_OBJECT

public:
    // Writes in a row answered with 0x15, while nothing says the software
    // is away, after which an event is set aside as refused.
    static constexpr int kRefusalNakCount = 20;
    static constexpr int kDefaultAbsenceRetryMs = 10000;

    explicit VelmoraCom(QObject *parent = nullptr);
    ~VelmoraCom() override;

    // Both before any event arrives; the store's pending events are queued
    // at once, ahead of everything that comes later. Null: nothing is marked.
    void setEventStore(VelmoraEventStore *store);
    // How often the first held event is retried while the keepalive period
    // is 0.
    void setAbsenceRetryInterval(int milliseconds);
    // Called in this object's thread (through a queued call from the thread
    // object) just before the start request, so no exchange reads the
    // settings while they change.
    void setSettings(const SVelmoraComSettings &settings);
    // Queues an event without a word in the log: the store's pending events
    // and those that came before this worker existed.
    void holdEvent(const SVelmoraMsg &msg);

    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const { return heldEvents.load(); }

signals:
    void logSignal(QString text);
    void stopSignal();
    void timerStartSignal();
    void timerStopSignal();

public slots:
    void msgSlot(SVelmoraMsg msg);
    void timeoutSlot();
    void stopSlot();
    void startSlot();
    void keepaliveSlot();

private slots:
    void sendNextEvent();
    void retryHeldEvent();

private:
    struct QueuedEvent
    {
        SVelmoraMsg msg;
        int refusalsInRow = 0;
    };
    enum class ExchangeResult {
        Acknowledged,
        NotAcknowledged,
        Refused,
    };
    class Report;

    void openPort();
    void closePort();
    bool writePort(const QString &text);
    bool readAnswer(int size, QByteArray &answer);
    bool portOpen() const;

    bool enqueue(const SVelmoraMsg &msg);
    void scheduleSend();
    void sendEvent();
    ExchangeResult exchangeEvent(QueuedEvent &event, const QString &lineText);
    void sendKeepalive();
    void finishHeadEvent(bool delivered);
    void enterAbsence();
    void leaveAbsence();
    void updateHeldCount();
    void report(const Report &line);

    std::unique_ptr<SerialPort> portHandle;
    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0;
    QString server;
    QString line;
    int keepAlive = 0;
    int keepaliveTimerSeconds = 0;

    VelmoraEventStore *eventStore = nullptr;
    std::deque<QueuedEvent> queue;
    QSet<qint64> queuedJournalIds;
    std::atomic<int> heldEvents{0};
    bool softwareAbsent = false;
    // The absence line is in the log and its recovery line is not yet.
    bool absenceReported = false;
    bool sendScheduled = false;
    QTimer *absenceRetryTimer = nullptr;
};

#endif // VELMORACOM_H
