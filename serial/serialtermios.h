#ifndef SERIALTERMIOS_H
#define SERIALTERMIOS_H

// The termios side of the POSIX serial port, apart from the descriptor so
// that a test can check every flag.

#include "serialport.h"

#include <termios.h>

// Puts attributes into raw binary mode and sets the four line parameters,
// leaving every other member as it was. False, with attributes unchanged,
// for what termios cannot express: nine data bits, a speed without a B
// constant, a parity code other than 0, 1 and 2.
bool serialTermiosAttributes(const SerialLineSettings &settings, termios &attributes);

// True when the device took the four line parameters: tcsetattr succeeds
// when it could make any of the changes, so the result is read back.
bool serialTermiosLineMatches(const termios &wanted, const termios &actual);

#endif // SERIALTERMIOS_H
