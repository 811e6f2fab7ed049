#include "velmoraheldqueue.h"

#include "velmoraeventcodec.h"

#include <algorithm>
#include <utility>

namespace {

// The order the events came in: by receive time, then journal entry.
bool cameBefore(const SVelmoraMsg &left, const SVelmoraMsg &right)
{
    const qint64 leftTime = left.receivedAt.isValid() ? left.receivedAt.toMSecsSinceEpoch() : 0;
    const qint64 rightTime = right.receivedAt.isValid() ? right.receivedAt.toMSecsSinceEpoch() : 0;
    if (leftTime != rightTime)
        return leftTime < rightTime;
    return left.journalId < right.journalId;
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
    // The form the event store made is kept as it is, not made again.
    Held held;
    held.encoded = VelmoraEventCodec::formOf(msg, &held.formStart);
    held.journalId = msg.journalId;
    device->events.push_back(std::move(held));
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

SVelmoraMsg VelmoraHeldQueue::unpack(const Held &held)
{
    SVelmoraMsg msg = VelmoraEventCodec::decode(held.encoded, held.formStart);
    msg.journalId = held.journalId;
    return msg;
}

SVelmoraMsg VelmoraHeldQueue::next() const
{
    if (trialFirst())
        return unpack(trial);
    const Lane &lane = lanes[nextLane()];
    const DeviceEvents &device = *lane.devices.find(lane.turns.front());
    return unpack(device.events[device.head]);
}

bool VelmoraHeldQueue::countAnswer(bool refusal)
{
    Held &held = head();
    ++held.attempts;
    held.refusalsInRow = refusal ? held.refusalsInRow + 1 : 0;
    if (refusal && trialRecheck && trialFirst())
        return true;
    return held.refusalsInRow >= kRefusalNakCount;
}

VelmoraHeldQueue::Refusal VelmoraHeldQueue::refuseNext(SVelmoraMsg *setAsideMsg)
{
    head().refusalsInRow = 0;
    // Refused again although the software has taken a different event
    // since: the refusal is the event's own.
    if (trialFirst() && trialRecheck) {
        const SVelmoraMsg msg = unpack(trial);
        setAside(msg, trial.attempts);
        if (trial.journalId != 0)
            heldJournalIds.remove(trial.journalId);
        trial = Held();
        hasTrial = false;
        trialRecheck = false;
        --count;
        if (setAsideMsg)
            *setAsideMsg = msg;
        return Refusal::SetAside;
    }
    // The event on trial refused once more, with no other to compare it to,
    // or during the line fault: it stays where it is.
    if (trialFirst())
        return Refusal::StillHeld;
    if (hasTrial) {
        lineFault = true;
        return Refusal::LineFault;
    }
    trial = takeFromLanes();
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
        finished.msg = unpack(trial);
        trial = Held();
        hasTrial = false;
        trialRecheck = false;
    } else {
        finished.msg = unpack(takeFromLanes());
        // A different event went through: the software takes events, and
        // the one on trial is written once more, next, to tell its own
        // fault from the software's passing trouble.
        if (hasTrial)
            trialRecheck = true;
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

VelmoraHeldQueue::Held VelmoraHeldQueue::takeFromLanes()
{
    Lane &lane = lanes[nextLane()];
    const auto device = lane.devices.find(lane.turns.front());
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
        views.append(HeldView{unpack(trial), trial.attempts, true});
    for (const Lane &lane : lanes) {
        for (auto device = lane.devices.cbegin(); device != lane.devices.cend(); ++device) {
            const DeviceEvents &events = device.value();
            for (std::size_t index = events.head; index < events.events.size(); ++index) {
                const Held &held = events.events[index];
                views.append(HeldView{unpack(held), held.attempts, false});
            }
        }
    }
    std::stable_sort(views.begin(), views.end(), [](const HeldView &left, const HeldView &right) {
        return cameBefore(left.msg, right.msg);
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

void VelmoraHeldQueue::setAside(const SVelmoraMsg &msg, int attempts)
{
    setAsideEvents.append(SetAside{msg, attempts, msg.journalId != 0 ? msg.journalId : nextLocalKey--});
}

bool VelmoraHeldQueue::takeSetAside(qint64 key, SVelmoraMsg *msg)
{
    for (int index = 0; index < setAsideEvents.size(); ++index) {
        if (setAsideEvents.at(index).key != key)
            continue;
        *msg = setAsideEvents.at(index).msg;
        setAsideEvents.remove(index);
        return true;
    }
    return false;
}

SVelmoraHeldRows VelmoraHeldQueue::rows(const std::function<QString(const SVelmoraMsg &)> &lineOf) const
{
    SVelmoraHeldRows rows;
    const QVector<HeldView> held = heldEvents();
    rows.reserve(held.size() + setAsideEvents.size());
    for (const HeldView &view : held) {
        rows.append(SVelmoraHeldRow{view.msg, lineOf(view.msg), view.attempts,
                                    view.onTrial ? SVelmoraHeldRow::Refused : SVelmoraHeldRow::Waiting,
                                    view.msg.journalId});
    }
    for (const SetAside &entry : setAsideEvents)
        rows.append(SVelmoraHeldRow{entry.msg, lineOf(entry.msg), entry.attempts, SVelmoraHeldRow::SetAside, entry.key});
    std::stable_sort(rows.begin(), rows.end(), [](const SVelmoraHeldRow &left, const SVelmoraHeldRow &right) {
        return cameBefore(left.msg, right.msg);
    });
    return rows;
}
