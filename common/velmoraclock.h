#ifndef VELMORACLOCK_H
#define VELMORACLOCK_H

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QVector>

class QTimer;
class VelmoraManualClock;

// Where the program takes the time from. Every worker is handed one: the
// system clock in the program, a manual clock in the tests, so that a
// keepalive period, a retry interval or a time-out is tested by moving the
// clock forward instead of sleeping through it.
class VelmoraClock
{
public:
    virtual ~VelmoraClock() = default;

    // Local wall-clock time, for time stamps and the texts that show them.
    virtual QDateTime now() const = 0;
    // Milliseconds on a clock that never goes back, for intervals.
    virtual qint64 monotonicMs() const = 0;
    // now() as milliseconds since 1970 UTC. The system clock answers
    // without looking at the time zone, which now() does on every call.
    virtual qint64 msecsSinceEpoch() const { return now().toMSecsSinceEpoch(); }

    // The real clock; a process-lifetime object, never deleted.
    static VelmoraClock &system();

protected:
    friend class VelmoraTimer;
    // A manual clock runs its timers itself; the system clock leaves them to Qt.
    virtual VelmoraManualClock *manualClock() { return nullptr; }
};

// A timer on a clock, with the part of QTimer's interface the workers use.
// On the system clock it is a QTimer; on a manual clock it fires when the
// clock is moved past its due time.
class VelmoraTimer : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraTimer(VelmoraClock &clock, QObject *parent = nullptr);
    ~VelmoraTimer() override;

    void setInterval(int milliseconds);
    int interval() const { return intervalMs; }
    void setSingleShot(bool singleShot);
    bool isSingleShot() const { return singleShot; }
    bool isActive() const;

public slots:
    void start();
    void start(int milliseconds);
    void stop();

signals:
    void timeout();

private:
    friend class VelmoraManualClock;

    VelmoraClock &clock;
    VelmoraManualClock *manual = nullptr;
    // Only on the system clock.
    QTimer *timer = nullptr;
    int intervalMs = 0;
    bool singleShot = false;
    // On a manual clock: whether it runs, and when it is due.
    bool running = false;
    qint64 dueMs = 0;
};

// A clock that moves only when told to. advance() fires every timer that
// falls due on the way, in the order they fall due; a timer that lives in
// another thread fires there, and advance() waits for it.
class VelmoraManualClock : public VelmoraClock
{
public:
    explicit VelmoraManualClock(const QDateTime &start = QDateTime(QDate(2026, 1, 15), QTime(10, 0)));

    QDateTime now() const override;
    qint64 monotonicMs() const override;

    void advance(qint64 milliseconds);
    // Moves the wall clock only (a change of the system time); intervals
    // do not see it.
    void setNow(const QDateTime &wallTime);

protected:
    VelmoraManualClock *manualClock() override { return this; }

private:
    friend class VelmoraTimer;
    void arm(VelmoraTimer *timer);
    void disarm(VelmoraTimer *timer);
    // The timer due first at or before limitMs, taken off the list; null
    // when none is.
    VelmoraTimer *takeDue(qint64 limitMs);

    mutable QMutex mutex;
    QDateTime startWall;
    qint64 elapsedMs = 0;
    QVector<VelmoraTimer *> armed;
};

#endif // VELMORACLOCK_H
