#ifndef COMRIG_H
#define COMRIG_H

#include "scriptedstation.h"
#include "velmoraclock.h"
#include "velmoracom.h"
#include "velmoracomthread.h"
#include "velmoraeventstore.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <functional>
#include <memory>

// The serial thread as the program drives it, its port a pseudo-terminal
// with a scripted station on the other side, its timers on a manual clock,
// and what it reported on screen and in the day log.
class ComRig : public QObject
{
    Q_OBJECT

public:
    // The worker runs with rigTiming(): short waits, the keepalive period
    // and the retry interval given here.
    explicit ComRig(int keepaliveMs, VelmoraEventStore *store = nullptr,
                    int absenceRetryMs = 60000);
    ~ComRig() override;

    // Starts the thread unless start() did, waits for the worker and asks it
    // to open the port; true once the port reports it is ready.
    bool startAndOpen();
    bool start();
    void open();
    void close();
    // The worker, once start() succeeded.
    VelmoraCom *worker() const { return thread.worker(); }

    // Returns once the worker has done everything asked of it so far.
    void settle();
    // Moves the clock, firing the worker's timers that fall due; each runs
    // to its end in the serial thread before this returns.
    void advance(int milliseconds);
    // Moves the clock by stepMs at a time until done() holds; false when it
    // does not within maxSteps steps.
    bool advanceUntil(const std::function<bool()> &done, int stepMs, int maxSteps = 100);

    // Waits, turning the event loop, until a screen line equals text.
    bool waitForLine(const QString &text, int timeoutMs = 10000);
    int countLines(const QString &text) const;
    QStringList screen() const { return screenLines; }

    // The port name in the texts the program logs.
    QString port() const { return station.portName(); }

    ScriptedStation station;
    VelmoraManualClock clock;
    VelmoraComThread thread{clock};

private:
    QStringList screenLines;
};

// Short waits, so that an exchange takes a fraction of the program's time:
// an unanswered event line costs kRigAttemptMs a write, an answered one
// about half that.
constexpr int kRigAnswerPauseMs = 40;
constexpr int kRigReadMs = 40;
constexpr int kRigAttemptMs = kRigAnswerPauseMs + 3 * kRigReadMs;
// How often a port that would not open, or went away, is tried again.
constexpr int kRigReopenMs = 200;
// The keepalive period of the suites that test keepalives.
constexpr int kRigKeepaliveMs = 300;
SVelmoraComTiming rigTiming(int keepaliveMs, int absenceRetryMs);

// Events with one account each, so that lines and marks can be told apart.
SVelmoraMsg makeTestEvent(int number, qint64 journalId = 0);
// The line the program writes for makeTestEvent(number), server 01, line 1.
QByteArray testEventLine(int number);

// The day log lines written since the rig's log was set up.
QStringList dayLogLines();
void setUpDayLog();

// Keeps what the serial side marks, and hands out a preset list of
// pending events at start-up.
class RecordingEventStore : public VelmoraEventStore
{
public:
    explicit RecordingEventStore(const QVector<SVelmoraMsg> &pending = {}) : pending(pending) {}

    bool appendDurably(QVector<SVelmoraMsg> &) override { return false; }
    QString errorString() const override { return QString(); }
    void markDelivered(qint64 journalId) override;
    void markRefused(qint64 journalId) override;
    QVector<SVelmoraMsg> pendingEvents() const override { return pending; }

    QList<qint64> delivered() const;
    QList<qint64> refused() const;

private:
    const QVector<SVelmoraMsg> pending;
    mutable QMutex mutex;
    QList<qint64> deliveredIds;
    QList<qint64> refusedIds;
};

#endif // COMRIG_H
