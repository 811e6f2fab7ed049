#include "velmorasupervisionschedule.h"

void VelmoraSupervisionSchedule::setPeriod(const QString &deviceId, qint64 periodMs, qint64 nowMs)
{
    if (periodMs <= 0) {
        remove(deviceId);
        return;
    }
    auto found = entries.find(deviceId);
    if (found != entries.end() && found->periodMs == periodMs)
        return;
    if (found == entries.end())
        found = entries.insert(deviceId, Entry());
    found->periodMs = periodMs;
    found->startMs = nowMs;
    queue(deviceId, *found, nowMs + periodMs);
}

void VelmoraSupervisionSchedule::remove(const QString &deviceId)
{
    const auto found = entries.find(deviceId);
    if (found == entries.end())
        return;
    unqueue(deviceId, *found);
    entries.erase(found);
}

void VelmoraSupervisionSchedule::heard(const QString &deviceId, qint64 nowMs)
{
    const auto found = entries.find(deviceId);
    if (found == entries.end())
        return;
    found->startMs = nowMs;
    // Still queued: put back at its real deadline when its place comes up.
    if (found->queuedAtMs < 0)
        queue(deviceId, *found, nowMs + found->periodMs);
}

QVector<QString> VelmoraSupervisionSchedule::takeDue(qint64 nowMs)
{
    QVector<QString> due;
    while (!byDeadline.empty() && byDeadline.begin()->first <= nowMs) {
        const QString deviceId = byDeadline.begin()->second;
        byDeadline.erase(byDeadline.begin());
        Entry &entry = entries[deviceId];
        entry.queuedAtMs = -1;
        const qint64 deadline = entry.startMs + entry.periodMs;
        if (deadline > nowMs)
            queue(deviceId, entry, deadline);
        else
            due << deviceId;
    }
    return due;
}

void VelmoraSupervisionSchedule::restartAll(qint64 nowMs)
{
    byDeadline.clear();
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        entry->startMs = nowMs;
        entry->queuedAtMs = nowMs + entry->periodMs;
        byDeadline.emplace(entry->queuedAtMs, entry.key());
    }
}

void VelmoraSupervisionSchedule::dueAgainAt(const QString &deviceId, qint64 atMs)
{
    const auto found = entries.find(deviceId);
    if (found == entries.end())
        return;
    found->startMs = atMs - found->periodMs;
    queue(deviceId, *found, atMs);
}

void VelmoraSupervisionSchedule::queue(const QString &deviceId, Entry &entry, qint64 atMs)
{
    unqueue(deviceId, entry);
    entry.queuedAtMs = atMs;
    byDeadline.emplace(atMs, deviceId);
}

void VelmoraSupervisionSchedule::unqueue(const QString &deviceId, Entry &entry)
{
    if (entry.queuedAtMs >= 0)
        byDeadline.erase({entry.queuedAtMs, deviceId});
    entry.queuedAtMs = -1;
}
