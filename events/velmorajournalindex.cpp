#include "velmorajournalindex.h"

#include <algorithm>
#include <utility>

namespace {

using Record = VelmoraEventJournalRecord;

constexpr qint64 kMarkSize = Record::kIdRecordSize;
constexpr qint64 kHeaderSize = Record::kIdRecordSize;

} // namespace

void VelmoraJournalIndex::clear()
{
    held.clear();
    settledCount = 0;
    setAsideTotal = 0;
    pendingTotal = 0;
    std::fill(pendingPerDevice.begin(), pendingPerDevice.end(), 0);
    liveTotal = kHeaderSize;
}

void VelmoraJournalIndex::add(qint64 journalId, QByteArray record, const char *deviceId, int deviceIdSize)
{
    const quint32 device = deviceIndex(deviceId, deviceIdSize);
    // Ids grow in file order, so a new event belongs at the end.
    auto place = held.end();
    if (!held.empty() && held.back().journalId >= journalId)
        place = std::lower_bound(held.begin(), held.end(), journalId, isBefore);
    if (place == held.end() || place->journalId != journalId) {
        liveTotal += record.size();
        place = held.insert(place, {journalId, std::move(record), device, State::Settled});
        ++settledCount;
        setState(*place, State::Pending);
        return;
    }
    // Only a file put together by hand repeats an id; the later record
    // counts, as a pending event.
    setState(*place, State::Settled);
    liveTotal += record.size();
    place->record = std::move(record);
    place->device = device;
    setState(*place, State::Pending);
}

bool VelmoraJournalIndex::applyMark(qint64 journalId, Record::Type mark)
{
    const auto heldEvent = find(journalId);
    State after = State::Settled;
    if (heldEvent == held.end() || !stateAfterMark(heldEvent->state, mark, &after))
        return false;
    setState(*heldEvent, after);
    return true;
}

bool VelmoraJournalIndex::stateAfterMark(State state, Record::Type mark, State *after)
{
    switch (mark) {
    case Record::Type::Delivered:
        *after = State::Settled;
        return state != State::Settled;
    case Record::Type::Refused:
        *after = State::SetAside;
        return state == State::Pending;
    case Record::Type::Released:
        *after = State::Settled;
        return state == State::SetAside;
    case Record::Type::Requeued:
        *after = State::Pending;
        return state == State::SetAside;
    case Record::Type::Header:
    case Record::Type::Event:
        break;
    }
    return false;
}

void VelmoraJournalIndex::dropSettled()
{
    if (settledCount == 0 || settledCount * 2 < static_cast<int>(held.size()))
        return;
    held.erase(std::remove_if(held.begin(), held.end(),
                              [](const HeldEvent &heldEvent) { return heldEvent.state == State::Settled; }),
               held.end());
    settledCount = 0;
}

QVector<SVelmoraMsg> VelmoraJournalIndex::events(State state) const
{
    QVector<SVelmoraMsg> events;
    events.reserve(state == State::SetAside ? setAsideTotal : pendingTotal);
    for (const HeldEvent &heldEvent : held) {
        if (heldEvent.state != state)
            continue;
        events.append(Record::eventOf(heldEvent.record));
        events.last().journalId = heldEvent.journalId;
    }
    return events;
}

bool VelmoraJournalIndex::heldEvent(qint64 journalId, SVelmoraMsg *event) const
{
    const auto found = std::lower_bound(held.cbegin(), held.cend(), journalId, isBefore);
    if (found == held.cend() || found->journalId != journalId || found->state == State::Settled)
        return false;
    *event = Record::eventOf(found->record);
    event->journalId = journalId;
    return true;
}

std::vector<VelmoraJournalIndex::KeptRecord> VelmoraJournalIndex::keptRecords() const
{
    std::vector<KeptRecord> records;
    records.reserve(static_cast<size_t>(pendingTotal + setAsideTotal));
    for (const HeldEvent &heldEvent : held) {
        if (heldEvent.state != State::Settled)
            records.push_back({heldEvent.journalId, heldEvent.record, heldEvent.state == State::SetAside});
    }
    return records;
}

int VelmoraJournalIndex::pendingCountForDevice(const QByteArray &deviceId) const
{
    const auto found = deviceIndexes.constFind(deviceId);
    return found == deviceIndexes.constEnd() ? 0 : pendingPerDevice.at(found.value());
}

std::vector<VelmoraJournalIndex::HeldEvent>::iterator VelmoraJournalIndex::find(qint64 journalId)
{
    const auto found = std::lower_bound(held.begin(), held.end(), journalId, isBefore);
    return found != held.end() && found->journalId == journalId ? found : held.end();
}

bool VelmoraJournalIndex::isBefore(const HeldEvent &heldEvent, qint64 journalId)
{
    return heldEvent.journalId < journalId;
}

quint32 VelmoraJournalIndex::deviceIndex(const char *deviceId, int size)
{
    const auto found = deviceIndexes.constFind(QByteArray::fromRawData(deviceId, size));
    if (found != deviceIndexes.constEnd())
        return found.value();
    const auto index = static_cast<quint32>(pendingPerDevice.size());
    deviceIndexes.insert(QByteArray(deviceId, size), index);
    pendingPerDevice.push_back(0);
    return index;
}

void VelmoraJournalIndex::setState(HeldEvent &heldEvent, State state)
{
    switch (heldEvent.state) {
    case State::Pending:
        --pendingTotal;
        --pendingPerDevice[heldEvent.device];
        break;
    case State::SetAside:
        --setAsideTotal;
        liveTotal -= kMarkSize;
        break;
    case State::Settled:
        --settledCount;
        break;
    }
    heldEvent.state = state;
    switch (state) {
    case State::Pending:
        ++pendingTotal;
        ++pendingPerDevice[heldEvent.device];
        break;
    case State::SetAside:
        ++setAsideTotal;
        liveTotal += kMarkSize;
        break;
    case State::Settled:
        ++settledCount;
        liveTotal -= heldEvent.record.size();
        heldEvent.record = QByteArray();
        break;
    }
}
