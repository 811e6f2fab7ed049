#ifndef SERIALINDEXMAPS_H
#define SERIALINDEXMAPS_H

// The configuration keeps the serial settings as positions in the lists the
// settings panel shows. These pure functions check a position or turn it into
// the value the port is given. Any input is accepted.

// 0..10 unchanged, anything else 7 (19200 baud).
int checkBaudRateIndex(int index);

// 75, 110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200 for
// 0..10; anything else 19200.
int baudRateFromIndex(int index);

// Data-bits or parity position: 0, 1, 2 unchanged, anything else 1. For
// parity the position is the port's own code (0 none, 1 odd, 2 even).
int checkThreeWayIndex(int index);

// 7, 8, 9 for 0..2; anything else 8.
int dataBitsFromIndex(int index);

// 1 stays 1 (two stop bits), anything else 0 (one stop bit).
int checkStopBitsIndex(int index);

#endif // SERIALINDEXMAPS_H
