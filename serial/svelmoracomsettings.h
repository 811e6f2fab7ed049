#ifndef SVELMORACOMSETTINGS_H
#define SVELMORACOMSETTINGS_H

#include "svelmoracomtiming.h"
#include "svelmoramsg.h"
#include "velmorareceiverformat.h"

#include <QString>

// Everything the serial worker needs for one run of the port, handed over
// as one copy when the port is to open: the worker reads no configuration
// of its own.
struct SVelmoraComSettings
{
    QString portName;
    // The second output, taking the events while the first does not answer;
    // empty: none. The same line settings apply to it.
    QString fallbackName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0; // 0 one stop bit, 1 two
    QString server;   // as written into every line
    QString line;     // as written into every line
    // The event's time is appended to its line.
    bool useTime = false;
    SVelmoraComTiming timing;

    // The line an event goes out as, terminator included.
    QString eventLine(const SVelmoraMsg &msg) const
    {
        return VelmoraReceiverFormat::eventLine(server, line, msg, useTime);
    }
};

#endif // SVELMORACOMSETTINGS_H
