#include "velmoraheldqueue.h"

namespace {

// The periodic test's event code, whatever its qualifier.
const char kPeriodicTestCode[] = "602";

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
                   + msg.messageType.size() + msg.time.size() + 6);
    for (const QString *field : {&msg.account, &msg.event, &msg.group, &msg.zone, &msg.messageType, &msg.time})
        appendField(packed, *field);
    return packed;
}

void unpackFields(const QByteArray &packed, SVelmoraMsg &msg)
{
    int at = 0;
    for (QString *field : {&msg.account, &msg.event, &msg.group, &msg.zone, &msg.messageType, &msg.time})
        *field = takeField(packed, at);
}

} // namespace

VelmoraHeldQueue::LaneIndex VelmoraHeldQueue::laneFor(const SVelmoraMsg &msg)
{
    return msg.event.midRef(1) == QLatin1String(kPeriodicTestCode) ? TestLane : AlarmLane;
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
    device->events.push_back(Held{packFields(msg), msg.receivedAt, msg.journalId, 0});
    ++count;
    return true;
}

VelmoraHeldQueue::Held &VelmoraHeldQueue::head()
{
    Lane &lane = lanes[nextLane()];
    DeviceEvents &device = lane.devices[lane.turns.front()];
    return device.events[device.head];
}

SVelmoraMsg VelmoraHeldQueue::next() const
{
    const Lane &lane = lanes[nextLane()];
    const QString &deviceId = lane.turns.front();
    const DeviceEvents &device = *lane.devices.find(deviceId);
    const Held &held = device.events[device.head];
    SVelmoraMsg msg;
    unpackFields(held.fields, msg);
    msg.deviceId = deviceId;
    msg.receivedAt = held.receivedAt;
    msg.journalId = held.journalId;
    return msg;
}

bool VelmoraHeldQueue::countAnswer(bool refusal)
{
    Held &held = head();
    held.refusalsInRow = refusal ? held.refusalsInRow + 1 : 0;
    return held.refusalsInRow >= kRefusalNakCount;
}

VelmoraHeldQueue::Notice VelmoraHeldQueue::failNext()
{
    absent = true;
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
    finished.msg = next();
    if (finished.msg.journalId != 0)
        heldJournalIds.remove(finished.msg.journalId);

    Lane &lane = lanes[nextLane()];
    const auto device = lane.devices.find(lane.turns.front());
    DeviceEvents &events = *device;
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
    --count;
    finished.notice = leaveAbsence();
    return finished;
}

VelmoraHeldQueue::Notice VelmoraHeldQueue::leaveAbsence()
{
    absent = false;
    if (!absenceReported)
        return Notice::None;
    absenceReported = false;
    return Notice::Back;
}
