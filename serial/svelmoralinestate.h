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

    // The second output, when one is configured (its name not empty): its
    // state as above, and whether it takes the events now. kind, since and
    // reason are always the primary's.
    QString fallbackName;
    Kind fallbackKind = PortClosed;
    QDateTime fallbackSince;
    QString fallbackReason;
    bool onFallback = false;

    // The state of the output that takes the events.
    Kind kindInUse() const { return onFallback ? fallbackKind : kind; }
    // No output answers, or the one in use refuses every event line: alarms
    // do not get through.
    bool failing() const
    {
        const auto down = [](Kind value) { return value == PortClosed || value == NotAnswering || value == RefusingEvents; };
        return kindInUse() == RefusingEvents || (down(kind) && (fallbackName.isEmpty() || down(fallbackKind)));
    }

    bool operator==(const SVelmoraLineState &other) const
    {
        return kind == other.kind && since == other.since && reason == other.reason
            && setAside == other.setAside && fallbackName == other.fallbackName
            && fallbackKind == other.fallbackKind && fallbackSince == other.fallbackSince
            && fallbackReason == other.fallbackReason && onFallback == other.onFallback;
    }
    bool operator!=(const SVelmoraLineState &other) const { return !(*this == other); }
};

Q_DECLARE_METATYPE(SVelmoraLineState)

#endif // SVELMORALINESTATE_H
