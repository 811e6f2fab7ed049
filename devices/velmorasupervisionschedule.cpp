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
    arm(deviceId, *found, nowMs + periodMs);
}

void VelmoraSupervisionSchedule::remove(const QString &deviceId)
{
    const auto found = entries.find(deviceId);
    if (found == entries.end())
        return;
    disarm(deviceId, *found);
    entries.erase(found);
}

void VelmoraSupervisionSchedule::heard(const QString &deviceId, qint64 nowMs)
{
    const auto found = entries.find(deviceId);
    if (found != entries.end())
        arm(deviceId, *found, nowMs + found->periodMs);
}

QVector<QString> VelmoraSupervisionSchedule::takeDue(qint64 nowMs)
{
    QVector<QString> due;
    while (!byDeadline.empty() && byDeadline.begin()->first <= nowMs) {
        const QString deviceId = byDeadline.begin()->second;
        byDeadline.erase(byDeadline.begin());
        entries[deviceId].deadlineMs = -1;
        due << deviceId;
    }
    return due;
}

void VelmoraSupervisionSchedule::restartAll(qint64 nowMs)
{
    byDeadline.clear();
    for (auto entry = entries.begin(); entry != entries.end(); ++entry) {
        entry->deadlineMs = nowMs + entry->periodMs;
        byDeadline.emplace(entry->deadlineMs, entry.key());
    }
}

void VelmoraSupervisionSchedule::dueAgainAt(const QString &deviceId, qint64 atMs)
{
    const auto found = entries.find(deviceId);
    if (found != entries.end())
        arm(deviceId, *found, atMs);
}

void VelmoraSupervisionSchedule::arm(const QString &deviceId, Entry &entry, qint64 deadlineMs)
{
    disarm(deviceId, entry);
    entry.deadlineMs = deadlineMs;
    byDeadline.emplace(deadlineMs, deviceId);
}

void VelmoraSupervisionSchedule::disarm(const QString &deviceId, Entry &entry)
{
    if (entry.deadlineMs >= 0)
        byDeadline.erase({entry.deadlineMs, deviceId});
    entry.deadlineMs = -1;
}
