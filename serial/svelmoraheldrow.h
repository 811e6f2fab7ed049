#ifndef SVELMORAHELDROW_H
#define SVELMORAHELDROW_H

#include "svelmoramsg.h"

#include <QMetaType>
#include <QString>
#include <QVector>

// One event the serial worker holds or has set aside, as the Events window
// lists it. A copy: the window never reads the worker's own records.
struct SVelmoraHeldRow
{
    enum State {
        Waiting,
        // Refused; it waits to see whether the next event is refused too.
        Refused,
        SetAside,
    };

    SVelmoraMsg msg;
    // The line as it goes on the wire, terminator included.
    QString lineText;
    int attempts = 0;
    State state = Waiting;
    // What the operator's actions name the event by: its journal entry, or
    // a number of the worker's own for an event that was never journaled.
    qint64 key = 0;
};

using SVelmoraHeldRows = QVector<SVelmoraHeldRow>;

Q_DECLARE_METATYPE(SVelmoraHeldRow)
Q_DECLARE_METATYPE(SVelmoraHeldRows)

#endif // SVELMORAHELDROW_H
