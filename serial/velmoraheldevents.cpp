#include "velmoraheldevents.h"

#include "velmorametrics.h"

#include "velmoraclock.h"
#include "velmoracomreport.h"
#include "velmoraeventstore.h"

namespace {

using Prefix = VelmoraComReport::Prefix;

} // namespace

VelmoraHeldEvents::VelmoraHeldEvents(VelmoraClock &clock, const SVelmoraComSettings &settingsToUse,
                                     QObject *parent)
    : QObject(parent), settings(settingsToUse), rowsTimer(new VelmoraTimer(clock, this))
{
    rowsTimer->setSingleShot(true);
    rowsTimer->setInterval(kHeldRowsIntervalMs);
    connect(rowsTimer, &VelmoraTimer::timeout, this, &VelmoraHeldEvents::sendRows);
}

void VelmoraHeldEvents::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
    if (eventStore) {
        const QVector<SVelmoraMsg> pending = eventStore->pendingEvents();
        for (const SVelmoraMsg &msg : pending)
            heldQueue.add(msg);
        // Set aside before the restart, and still waiting for the operator.
        const QVector<SVelmoraMsg> refused = eventStore->setAsideEvents();
        for (const SVelmoraMsg &msg : refused)
            heldQueue.setAside(msg);
    }
    noteCountChanged();
}

void VelmoraHeldEvents::reload(bool dropOnly)
{
    heldQueue = VelmoraHeldQueue();
    if (dropOnly)
        noteCountChanged();
    else
        setEventStore(eventStore);
    emit setAsideChangedSignal();
}

void VelmoraHeldEvents::noteSending(const SVelmoraMsg &msg)
{
    if (msg.journalId != 0 && eventStore)
        eventStore->markSent(msg.journalId);
}

bool VelmoraHeldEvents::hold(const SVelmoraMsg &msg)
{
    if (!heldQueue.add(msg))
        return false;
    noteCountChanged();
    return true;
}

void VelmoraHeldEvents::finishNext()
{
    const VelmoraHeldQueue::Finished finished = heldQueue.takeNext();
    if (finished.msg.journalId != 0 && eventStore)
        eventStore->markDelivered(finished.msg.journalId);
    VelmoraMetrics::instance().eventsDelivered.add();
    if (finished.msg.receivedAt.isValid()) {
        VelmoraMetrics::instance().deliveryLatency.observeUs(
            (QDateTime::currentMSecsSinceEpoch() - finished.msg.receivedAt.toMSecsSinceEpoch()) * 1000);
    }
    noteCountChanged();
    reportNotice(finished.notice);
}

void VelmoraHeldEvents::noteSetAside(const SVelmoraMsg &msg)
{
    emit reportSignal(VelmoraComReport(Prefix::Short)
                          .translated(QT_TRANSLATE_NOOP("VelmoraCom", " Refused by the monitoring software, set aside: "))
                          .plain(settings.eventLine(msg)));
    if (msg.journalId != 0 && eventStore)
        eventStore->markRefused(msg.journalId);
    VelmoraMetrics::instance().eventsSetAsideTotal.add();
    noteCountChanged();
    emit setAsideChangedSignal();
}

void VelmoraHeldEvents::reportNotice(VelmoraHeldQueue::Notice notice)
{
    const char *text = nullptr;
    switch (notice) {
    case VelmoraHeldQueue::Notice::None:
        return;
    case VelmoraHeldQueue::Notice::Absent:
        text = QT_TRANSLATE_NOOP("VelmoraCom", " The monitoring software does not acknowledge; events held: %1");
        break;
    case VelmoraHeldQueue::Notice::Back:
        text = QT_TRANSLATE_NOOP("VelmoraCom", " The monitoring software acknowledges again; held events to send: %1");
        break;
    case VelmoraHeldQueue::Notice::LineFaultOver:
        text = QT_TRANSLATE_NOOP("VelmoraCom", " Line fault over: the monitoring software accepts event lines "
                                               "again; held events to send: %1");
        break;
    }
    emit reportSignal(VelmoraComReport(Prefix::Short).translatedCount(text, heldQueue.size()));
}

bool VelmoraHeldEvents::sendAgain(qint64 key)
{
    SVelmoraMsg msg;
    if (!heldQueue.takeSetAside(key, &msg))
        return false;
    emit reportSignal(VelmoraComReport(Prefix::Short)
                          .translated(QT_TRANSLATE_NOOP("VelmoraCom", " Sent again by the operator: "))
                          .plain(settings.eventLine(msg)));
    // Pending in the journal before it is held, so that a mark made by its
    // delivery always follows this one.
    if (msg.journalId != 0 && eventStore)
        eventStore->markRequeued(msg.journalId);
    heldQueue.add(msg);
    noteCountChanged();
    emit setAsideChangedSignal();
    return true;
}

void VelmoraHeldEvents::release(qint64 key)
{
    SVelmoraMsg msg;
    if (!heldQueue.takeSetAside(key, &msg))
        return;
    emit reportSignal(VelmoraComReport(Prefix::Short)
                          .translated(QT_TRANSLATE_NOOP("VelmoraCom", " Released by the operator, not sent: "))
                          .plain(settings.eventLine(msg)));
    if (msg.journalId != 0 && eventStore)
        eventStore->markReleased(msg.journalId);
    noteChanged();
    emit setAsideChangedSignal();
}

void VelmoraHeldEvents::setRowsWanted(bool wanted)
{
    rowsWanted = wanted;
    if (!wanted) {
        rowsTimer->stop();
        return;
    }
    sendRows();
}

void VelmoraHeldEvents::noteChanged()
{
    if (rowsWanted && !rowsTimer->isActive())
        rowsTimer->start();
}

void VelmoraHeldEvents::noteCountChanged()
{
    heldCount.store(heldQueue.size());
    VelmoraMetrics::instance().eventsHeld.set(heldQueue.size());
    noteChanged();
}

void VelmoraHeldEvents::sendRows()
{
    if (!rowsWanted)
        return;
    const SVelmoraHeldRows rows = heldQueue.rows([this](const SVelmoraMsg &msg) { return settings.eventLine(msg); });
    // A long backlog makes each list costly to build here and to show there:
    // the next one waits longer, so that exchanges are not held up by lists.
    rowsTimer->setInterval(qMax(kHeldRowsIntervalMs, rows.size() / kHeldRowsPerMs));
    emit heldRowsSignal(rows);
}
