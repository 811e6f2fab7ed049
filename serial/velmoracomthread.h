#ifndef VELMORACOMTHREAD_H
#define VELMORACOMTHREAD_H

#include "svelmoracomsettings.h"
#include "svelmoramsg.h"
#include "velmoraclock.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <functional>

class VelmoraCom;
class VelmoraEventStore;

// The serial output's thread. Its run() makes the worker, which lives in this
// thread with the port and its timers, and turns the event loop in which the
// worker does every open, close and exchange. The worker's signals and slots
// are connected directly (queued across the threads); the thread object
// itself lives in the thread that created it and keeps the settings the
// worker is handed at each start request.
class VelmoraComThread : public QThread
{
    Q_OBJECT

public:
    explicit VelmoraComThread(VelmoraClock &clock = VelmoraClock::system(), QObject *parent = nullptr);
    // Ends the event loop and waits for the exchange in progress, if any.
    ~VelmoraComThread() override;

    void setPortName(const QString &name);
    void setBaudRate(int rate);
    void setDataBits(int bits);
    void setParity(int code);
    void setStopBits(int choice);
    void setServer(const QString &text);
    void setLine(const QString &text);
    // The event's time is appended to its line.
    void setUseTime(bool append);
    // Seconds; sets the timing's keepalive period.
    void setKeepAlive(int seconds);
    // Milliseconds a line waits for its answer after each write.
    void setAckWait(int ms);
    // The second output's name; empty: none.
    void setFallbackName(const QString &name);
    // Replaces the whole timing, keepalive period included.
    void setTiming(const SVelmoraComTiming &value);

    // Before startWorker(). The worker holds the store's pending events first
    // and marks each event delivered or refused there. Null: nothing is kept.
    void setEventStore(VelmoraEventStore *store);
    // Before startWorker(): lines go out only while gate answers true.
    void setOutputGate(std::function<bool()> gate);

    // Starts the thread and returns once the worker exists.
    void startWorker();
    // The worker, living in the serial thread; null before startWorker() and
    // after the thread ended.
    VelmoraCom *worker() const;
    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const;
    // The record the worker gets at the next start request.
    SVelmoraComSettings workerSettings() const;

public slots:
    // Safe from any thread; the event is queued into the serial thread.
    void msgSlot(SVelmoraMsg msg);
    // Hands the worker the settings and asks it to open the port.
    void comStartSlot();

private:
    void run() override;
    // Publishes the worker, or withdraws it (null) when its loop has ended.
    void setWorker(VelmoraCom *created);
    void handOverInbox();

    VelmoraClock &clock;
    // Guards the worker pointer and the inbox, shared with the serial thread.
    mutable QMutex workerMutex;
    QWaitCondition workerCreated;
    VelmoraCom *currentWorker = nullptr;
    // Events on their way into the serial thread. One hand-over carries all
    // that came meanwhile: a flood from one device must not stand in the
    // thread's own queue ahead of another device's alarm, where the worker's
    // fair order cannot see it. Events that come while there is no worker
    // wait here for the next one.
    QVector<SVelmoraMsg> inbox;

    SVelmoraComSettings settings;
    VelmoraEventStore *eventStore = nullptr;
    std::function<bool()> outputGate;
};

#endif // VELMORACOMTHREAD_H
