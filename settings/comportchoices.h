#ifndef COMPORTCHOICES_H
#define COMPORTCHOICES_H

#include <QString>
#include <QStringList>

// The port names the settings panel offers, in order: the configured name
// when no other choice has it (a device path, a COM number above 99, a name
// typed into the file, a tcp:// address), then the serial ports found on this machine, then
// COM1 to COM99. The configured name is always a choice, so "Apply" with no
// change keeps the port the program runs on.
QStringList comPortChoices(const QString &configuredName, const QStringList &machinePorts);

// The serial ports this machine has now, as the configuration names them:
// "COMn" on Windows, the device path ("/dev/ttyUSB0") elsewhere.
QStringList machineSerialPorts();

#endif // COMPORTCHOICES_H
