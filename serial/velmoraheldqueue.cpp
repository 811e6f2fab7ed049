#include "velmoraheldqueue.h"

#include <algorithm>
#include <utility>

namespace {

// Each field as its UTF-8 length (seven bits a byte, low first, the high
// bit saying more follows) and bytes: one allocation for the whole record.
void appendField(QByteArray &packed, const QString &field)
{
    const QByteArray bytes = field.toUtf8();
    quint32 length = static_cast<quint32>(bytes.size());
    do {
        const char low = static_cast<char>(length & 0x7F);
        length >>= 7;
        packed.append(length != 0 ? static_cast<char>(low | 0x80) : low);
    } while (length != 0);
    packed.append(bytes);
}

QString takeField(const QByteArray &packed, int &at)
{
    quint32 length = 0;
    for (int shift = 0; at < packed.size() && shift < 32; shift += 7) {
        const auto byte = static_cast<unsigned char>(packed.at(at++));
        length |= quint32(byte & 0x7F) << shift;
        if ((byte & 0x80) == 0)
            break;
    }
    const int size = static_cast<int>(qMin<quint32>(length, quint32(packed.size() - at)));
    const QString field = QString::fromUtf8(packed.constData() + at, size);
    at += size;
    return field;
}

QByteArray packFields(const SVelmoraMsg &msg)
{
    QByteArray packed;
    packed.reserve(msg.account.size() + msg.event.size() + msg.group.size() + msg.zone.size()
                   + msg.messageType.size() + msg.time.size() + msg.peerAddress.size() + 7);
    for (const QString *field : {&msg.account, &msg.event, &msg.group, &msg.zone, &msg.messageType, &msg.time,
                                 &msg.peerAddress})
        appendField(packed, *field);
    return packed;
}

void unpackFields(const QByteArray &packed, SVelmoraMsg &msg)
{
    int at = 0;
    for (QString *field : {&msg.account, &msg.event, &msg.group, &msg.zone, &msg.messageType, &msg.time,
                           &msg.peerAddress})
        *field = takeField(packed, at);
}

} // namespace

VelmoraHeldQueue::LaneIndex VelmoraHeldQueue::laneFor(const SVelmoraMsg &msg)
{
    return msg.isPeriodicTest() ? TestLane : AlarmLane;
}

bool VelmoraHeldQueue::add(const SVelmoraMsg &msg)
{
    if (msg.journalId != 0) {
        if (heldJournalIds.contains(msg.journalId))
            return false;
        heldJournalIds.insert(msg.journalId);
    }
    Lane &lane = lanes[laneFor(msg)];
    auto device = lane.devices.find(msg.deviceId);
    if (device == lane.devices.end()) {
        device = lane.devices.insert(msg.deviceId, DeviceEvents());
        // Its turn comes after every device already waiting.
        lane.turns.push_back(device.key());
    }
    device->events.push_back(Held{packFields(msg), msg.receivedAt, msg.journalId, 0, 0});
    ++count;
    return true;
}

VelmoraHeldQueue::Held &VelmoraHeldQueue::head()
{
    if (trialFirst())
        return trial;
    Lane &lane = lanes[nextLane()];
    DeviceEvents &device = lane.devices[lane.turns.front()];
    return device.events[device.head];
}

SVelmoraMsg VelmoraHeldQueue::unpack(const Held &held, const QString &deviceId)
{
    SVelmoraMsg msg;
    unpackFields(held.fields, msg);
    msg.deviceId = deviceId;
    msg.receivedAt = held.receivedAt;
    msg.journalId = held.journalId;
    return msg;
}

SVelmoraMsg VelmoraHeldQueue::next() const
{
    if (trialFirst())
        return unpack(trial, trialDevice);
    const Lane &lane = lanes[nextLane()];
    const QString &deviceId = lane.turns.front();
    const DeviceEvents &device = *lane.devices.find(deviceId);
    return unpack(device.events[device.head], deviceId);
}

bool VelmoraHeldQueue::countAnswer(bool refusal)
{
    Held &held = head();
    ++held.attempts;
    held.refusalsInRow = refusal ? held.refusalsInRow + 1 : 0;
    return held.refusalsInRow >= kRefusalNakCount;
}

VelmoraHeldQueue::Refusal VelmoraHeldQueue::refuseNext()
{
    head().refusalsInRow = 0;
    // The event on trial refused once more, with no other to compare it to,
    // or during the line fault: it stays where it is.
    if (trialFirst())
        return Refusal::StillHeld;
    if (hasTrial) {
        lineFault = true;
        return Refusal::LineFault;
    }
    trial = takeFromLanes(&trialDevice);
    hasTrial = true;
    return Refusal::OnTrial;
}

VelmoraHeldQueue::Notice VelmoraHeldQueue::failNext()
{
    absent = true;
    // Refusals make up most unanswered writes in a line fault; the fault's
    // own line says what is wrong.
    if (lineFault)
        return Notice::None;
    if (absenceReported)
        return Notice::None;
    absenceReported = true;
    return Notice::Absent;
}

VelmoraHeldQueue::Notice VelmoraHeldQueue::keepaliveAnswered(bool acknowledged)
{
    if (acknowledged)
        return leaveAbsence();
    // The software is not answering at all, so the refusals of the first
    // event so far say nothing about that event.
    if (!isEmpty())
        head().refusalsInRow = 0;
    return Notice::None;
}

void VelmoraHeldQueue::portOpened()
{
    absent = false;
}

VelmoraHeldQueue::Finished VelmoraHeldQueue::takeNext()
{
    Finished finished;
    if (trialFirst()) {
        finished.msg = unpack(trial, trialDevice);
        trial = Held();
        hasTrial = false;
    } else {
        QString deviceId;
        const Held taken = takeFromLanes(&deviceId);
        finished.msg = unpack(taken, deviceId);
        if (hasTrial) {
            // A different event went through: the refusal was the event's.
            finished.setAside = true;
            finished.setAsideMsg = unpack(trial, trialDevice);
            finished.setAsideAttempts = trial.attempts;
            if (trial.journalId != 0)
                heldJournalIds.remove(trial.journalId);
            trial = Held();
            hasTrial = false;
            --count;
        }
    }
    if (finished.msg.journalId != 0)
        heldJournalIds.remove(finished.msg.journalId);
    --count;
    if (lineFault) {
        lineFault = false;
        absent = false;
        absenceReported = false;
        finished.notice = Notice::LineFaultOver;
        return finished;
    }
    finished.notice = leaveAbsence();
    return finished;
}

VelmoraHeldQueue::Held VelmoraHeldQueue::takeFromLanes(QString *deviceId)
{
    Lane &lane = lanes[nextLane()];
    const auto device = lane.devices.find(lane.turns.front());
    *deviceId = device.key();
    DeviceEvents &events = *device;
    Held taken = std::move(events.events[events.head]);
    events.events[events.head] = Held();
    ++events.head;
    if (events.head == events.events.size()) {
        lane.devices.erase(device);
        lane.turns.pop_front();
    } else {
        // Taken events are dropped in one go once they are half the store.
        if (events.head * 2 >= events.events.size()) {
            events.events.erase(events.events.begin(),
                                events.events.begin() + static_cast<std::ptrdiff_t>(events.head));
            events.head = 0;
        }
        // The next device's turn; this one waits behind every other.
        lane.turns.push_back(lane.turns.front());
        lane.turns.pop_front();
    }
    return taken;
}

QVector<VelmoraHeldQueue::HeldView> VelmoraHeldQueue::heldEvents() const
{
    QVector<HeldView> views;
    views.reserve(count);
    if (hasTrial)
        views.append(HeldView{unpack(trial, trialDevice), trial.attempts, true});
    for (const Lane &lane : lanes) {
        for (auto device = lane.devices.cbegin(); device != lane.devices.cend(); ++device) {
            const DeviceEvents &events = device.value();
            for (std::size_t index = events.head; index < events.events.size(); ++index) {
                const Held &held = events.events[index];
                views.append(HeldView{unpack(held, device.key()), held.attempts, false});
            }
        }
    }
    std::stable_sort(views.begin(), views.end(), [](const HeldView &left, const HeldView &right) {
        const qint64 leftTime = left.msg.receivedAt.isValid() ? left.msg.receivedAt.toMSecsSinceEpoch() : 0;
        const qint64 rightTime = right.msg.receivedAt.isValid() ? right.msg.receivedAt.toMSecsSinceEpoch() : 0;
        if (leftTime != rightTime)
            return leftTime < rightTime;
        return left.msg.journalId < right.msg.journalId;
    });
    return views;
}

VelmoraHeldQueue::Notice VelmoraHeldQueue::leaveAbsence()
{
    absent = false;
    if (!absenceReported)
        return Notice::None;
    absenceReported = false;
    return Notice::Back;
}
