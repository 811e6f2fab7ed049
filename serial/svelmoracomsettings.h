#ifndef SVELMORACOMSETTINGS_H
#define SVELMORACOMSETTINGS_H

#include <QString>

// The serial port settings as the thread object hands them to the worker.
struct SVelmoraComSettings
{
    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int parity = 0;
    int stopBits = 0; // 0 one stop bit, 1 two
    QString server;   // as written into every line
    QString line;     // as written into every line
    int keepAlive = 0;          // the worker's copy: only decides whether the timer starts
    int keepaliveTimerSeconds = 0; // the period the keepalive timer really runs with
};

#endif // SVELMORACOMSETTINGS_H
