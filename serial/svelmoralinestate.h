#ifndef SVELMORALINESTATE_H
#define SVELMORALINESTATE_H

#include <QDateTime>
#include <QMetaType>
#include <QString>

// What the serial worker knows of the line to the monitoring software,
// handed to the window by a queued signal whenever it changes.
struct SVelmoraLineState
{
    enum Kind {
        // Not open; reason says why, in the worker's words.
        PortClosed,
        // Open, and nothing has been answered yet.
        PortOpen,
        // The last line written was acknowledged.
        Answering,
        // Lines go unacknowledged, since the time given.
        NotAnswering,
        // Keepalives are acknowledged but every event line is refused,
        // since the time given.
        RefusingEvents,
    };

    Kind kind = PortClosed;
    QDateTime since;
    QString reason;
    // Events refused and set aside, waiting for the operator.
    int setAside = 0;

    bool operator==(const SVelmoraLineState &other) const
    {
        return kind == other.kind && since == other.since && reason == other.reason
            && setAside == other.setAside;
    }
    bool operator!=(const SVelmoraLineState &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(SVelmoraLineState)

#endif // SVELMORALINESTATE_H
