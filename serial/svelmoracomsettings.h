#ifndef SVELMORACOMSETTINGS_H
#define SVELMORACOMSETTINGS_H

#include "svelmoracomtiming.h"

#include <QString>

// Everything the serial worker needs for one run of the port, handed over
// as one record when the port is to open.
struct SVelmoraComSettings
{
    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0; // 0 one stop bit, 1 two
    QString server;   // as written into every line
    QString line;     // as written into every line
    SVelmoraComTiming timing;
};

#endif // SVELMORACOMSETTINGS_H
