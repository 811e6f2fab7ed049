#ifndef VELMORACOMTHREAD_H
#define VELMORACOMTHREAD_H

#include "svelmoracomsettings.h"
#include "svelmoraheldrow.h"
#include "svelmoralinestate.h"
#include "svelmoramsg.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

class VelmoraCom;
class VelmoraEventStore;

// The serial output's thread. Its run() makes the worker, which lives in this
// thread with the port and the keepalive timer, and turns the event loop in
// which the worker does every open, close and exchange. The thread object
// itself lives in the thread that created it (the window's) and only keeps
// the settings and hands requests over.
class VelmoraComThread : public QThread
{
    Q_OBJECT

public:
    explicit VelmoraComThread(QObject *parent = nullptr);
    // Ends the event loop and waits for the exchange in progress, if any.
    ~VelmoraComThread() override;

    void setPortName(const QString &name);
    void setBaudRate(int rate);
    void setDataBits(int bits);
    void setParity(int code);
    void setStopBits(int choice);
    void setServer(const QString &text);
    void setLine(const QString &text);
    // Seconds; sets the timing's keepalive period.
    void setKeepAlive(int seconds);
    // Replaces the whole timing, keepalive period included.
    void setTiming(const SVelmoraComTiming &value);

    // Before start(). The worker holds the store's pending events first and
    // marks each event delivered or refused there. Null: nothing is kept.
    void setEventStore(VelmoraEventStore *store);

    // True once run() has made the worker; false after timeoutMs without it.
    bool waitUntilReady(int timeoutMs = 10000);
    // The worker, in the serial thread: a queued connection to its
    // msgSlot(SVelmoraMsg) brings events straight into the serial thread.
    // Null before waitUntilReady() succeeded.
    VelmoraCom *eventReceiver() const;
    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const;
    // The record the worker gets at the next start request.
    SVelmoraComSettings workerSettings() const;

signals:
    void logSignal(QString text);
    void stopSignal();
    // The port opened and is ready, also when it opened on a retry.
    void portReadySignal();
    void stopSignal2();
    // A start request went to the worker, with its settings.
    void startSignal2();
    void keepaliveSignal();
    // Relayed from the worker through queued connections: copies, never
    // the worker's own records.
    void lineStateSignal(SVelmoraLineState state);
    void heldRowsSignal(SVelmoraHeldRows rows);

public slots:
    // Safe from any thread; the event is queued into the serial thread.
    void msgSlot(SVelmoraMsg msg);
    void comStopSlot();
    void comStartSlot();
    void timerStartSlot();
    void timerStopSlot();
    void timeoutSlot();
    // Safe from any thread; handed to the worker in the serial thread.
    void sendAgainSlot(qint64 key);
    void releaseSlot(qint64 key);
    void setHeldRowsWanted(bool wanted);

private:
    void run() override;
    QVector<SVelmoraMsg> takeInbox();

    // Guards worker and earlyEvents, which run() sets in the serial thread.
    mutable QMutex workerMutex;
    QWaitCondition workerCreated;
    VelmoraCom *worker = nullptr;
    // Events that came before the worker existed; it takes them first.
    QVector<SVelmoraMsg> earlyEvents;
    // Events on their way into the serial thread. One hand-over carries all
    // that came meanwhile: a flood from one device must not stand in the
    // thread's own queue ahead of another device's alarm, where the worker's
    // fair order cannot see it.
    QVector<SVelmoraMsg> inbox;

    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0;
    QString server;
    QString line;
    SVelmoraComTiming timing;
    VelmoraEventStore *eventStore = nullptr;
};

#endif // VELMORACOMTHREAD_H
