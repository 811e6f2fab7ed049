#ifndef VELMORACOMTHREAD_H
#define VELMORACOMTHREAD_H

#include "svelmoramsg.h"

#include <QMutex>
#include <QString>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

class QTimer;
class VelmoraCom;
class VelmoraEventStore;

// The serial output's thread. Its own slots run in the thread that created
// it (the window's); its run() makes the worker and turns the event loop in
// which the worker does every open, close and exchange. Events are handed to
// the worker through queued calls, so they are sent in the order they came.
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
    void setKeepAlive(int seconds);

    // Before start(). The worker queues the store's pending events first and
    // marks each event delivered or refused there. Null: nothing is kept.
    void setEventStore(VelmoraEventStore *store);
    // Before start(): how often the first held event is retried while the
    // software does not answer and the keepalive period is 0.
    void setAbsenceRetryInterval(int milliseconds);

    // True once run() has made the worker; false after timeoutMs without it.
    bool waitUntilReady(int timeoutMs = 10000);
    // Events waiting for the monitoring software; safe from any thread.
    int heldCount() const;

signals:
    void logSignal(QString text);
    void stopSignal();
    void stopSignal2();
    void startSignal2();
    void keepaliveSignal();

public slots:
    void msgSlot(SVelmoraMsg msg);
    void comStopSlot();
    void comStartSlot();
    void timerStartSlot();
    void timerStopSlot();
    void timeoutSlot();

private:
    void run() override;

    // Guards worker and earlyEvents, which run() sets in the serial thread.
    mutable QMutex workerMutex;
    QWaitCondition workerCreated;
    VelmoraCom *worker = nullptr;
    // Events that came before the worker existed; it takes them first.
    QVector<SVelmoraMsg> earlyEvents;

    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0;
    QString server;
    QString line;
    int keepAlive = 0;
    VelmoraEventStore *eventStore = nullptr;
    int absenceRetryInterval;
    QTimer *keepaliveTimer;
};

#endif // VELMORACOMTHREAD_H
