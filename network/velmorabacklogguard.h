#ifndef VELMORABACKLOGGUARD_H
#define VELMORABACKLOGGUARD_H

#include "diskspace.h"
#include "svelmoralogline.h"
#include "svelmoramsg.h"

#include <QSet>
#include <QString>
#include <QVector>

#include <functional>

class VelmoraEventStore;

// Decides which new events the receiver may take on while events wait for
// the serial line. Beyond a limit an event is not journaled and the device
// gets no ACK for it, so the device keeps it and sends it again; what was
// acknowledged is never dropped to make room. The limits:
//   - events pending in all,
//   - events pending from one device ID,
//   - free space on the spool's disk.
// Each limit is reported once when it first holds back an event and once
// when it is left, that is when the backlog has drained a tenth of the way
// below it (the free space risen a tenth above it), so that a backlog that
// stays at its limit does not fill the log.
class VelmoraBacklogGuard
{
public:
    // Free bytes on the disk of the directory; -1 when that cannot be told,
    // and then the free space holds nothing back.
    using FreeSpaceProbe = std::function<qint64(const QString &directory)>;

    struct Limits
    {
        int maxPending = 100000;
        int maxPendingPerDevice = 2000;
        qint64 minFreeBytes = DiskSpace::kJournalFloorBytes;
        // How often a limit in force is looked at again to see it left.
        int recheckMs = 1000;
        // Null: the system is asked.
        FreeSpaceProbe freeSpace;
    };

    void setLimits(const Limits &newLimits);
    const Limits &limits() const { return current; }

    // One flag per event, in order: true for the events that may be
    // appended. Lines for limits reached are added to lines.
    QVector<bool> admit(const QVector<SVelmoraMsg> &events, const VelmoraEventStore &store,
                        QVector<SVelmoraLogLine> *lines);
    // Looks at the limits in force again and adds a line for each one left.
    void recheck(const VelmoraEventStore &store, QVector<SVelmoraLogLine> *lines);
    bool anyInForce() const;

private:
    qint64 freeBytes(const VelmoraEventStore &store) const;
    static int resumeLevel(int limit);

    Limits current;
    bool totalInForce = false;
    bool diskInForce = false;
    QSet<QString> devicesInForce;
};

#endif // VELMORABACKLOGGUARD_H
