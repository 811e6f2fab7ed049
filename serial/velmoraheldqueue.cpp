#include "velmoraheldqueue.h"

bool VelmoraHeldQueue::add(const SVelmoraMsg &msg)
{
    if (msg.journalId != 0) {
        if (heldJournalIds.contains(msg.journalId))
            return false;
        heldJournalIds.insert(msg.journalId);
    }
    events.push_back(Held{msg, 0});
    return true;
}

bool VelmoraHeldQueue::countAnswer(bool refusal)
{
    Held &head = events.front();
    head.refusalsInRow = refusal ? head.refusalsInRow + 1 : 0;
    return head.refusalsInRow >= kRefusalNakCount;
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
    if (!events.empty())
        events.front().refusalsInRow = 0;
    return Notice::None;
}

void VelmoraHeldQueue::portOpened()
{
    absent = false;
}

VelmoraHeldQueue::Finished VelmoraHeldQueue::takeNext()
{
    Finished finished;
    finished.msg = events.front().msg;
    if (finished.msg.journalId != 0)
        heldJournalIds.remove(finished.msg.journalId);
    events.pop_front();
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
