#ifndef VELMORASUPERVISIONSCHEDULE_H
#define VELMORASUPERVISIONSCHEDULE_H

#include <QHash>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <set>
#include <utility>

// When each supervised device is due: a device not heard for its period is
// absent. The devices are kept ordered by a deadline that may be early: a
// frame only notes when the device was heard, and a device whose deadline
// comes up while it was heard since is put back at its real one. So a frame
// costs one lookup, the order changes about once per device and period, and
// finding the absent devices costs as much as there are, however many are
// supervised. A caller that keeps the time each device was heard itself
// may leave heard() to the devices taken off the order, and put a device
// that takeDue() returns but that was heard since back with dueAgainAt().
// Times are milliseconds on a monotonic clock.
class VelmoraSupervisionSchedule
{
public:
    // The device's period (0: not supervised). A new device, or one whose
    // period changes, counts from now; one whose period stays keeps its
    // deadline.
    void setPeriod(const QString &deviceId, qint64 periodMs, qint64 nowMs);
    void remove(const QString &deviceId);
    // The device was heard: its period starts again.
    void heard(const QString &deviceId, qint64 nowMs);
    // The devices whose deadline has passed, earliest first; each is taken
    // off the schedule until it is heard (or tried again) again.
    QVector<QString> takeDue(qint64 nowMs);
    // Every device's period starts again now, absent ones included (their
    // absence, once reported, is not reported again by the caller).
    void restartAll(qint64 nowMs);
    // Puts a device taken by takeDue back, due at the given time.
    void dueAgainAt(const QString &deviceId, qint64 atMs);

    bool contains(const QString &deviceId) const { return entries.contains(deviceId); }
    qint64 periodMs(const QString &deviceId) const { return entries.value(deviceId).periodMs; }
    // How many devices are supervised (period > 0).
    int size() const { return entries.size(); }

private:
    struct Entry
    {
        qint64 periodMs = 0;
        // When the period last started: the device heard, or supervised.
        qint64 startMs = 0;
        // Its place in the order; -1 while it is off the order (absent,
        // waiting to be heard).
        qint64 queuedAtMs = -1;
    };
    void queue(const QString &deviceId, Entry &entry, qint64 atMs);
    void unqueue(const QString &deviceId, Entry &entry);

    QHash<QString, Entry> entries;
    std::set<std::pair<qint64, QString>> byDeadline;
};

#endif // VELMORASUPERVISIONSCHEDULE_H
