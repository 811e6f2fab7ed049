#include "comportchoices.h"

#include <QSerialPortInfo>

QStringList machineSerialPorts()
{
    QStringList names;
    for (const QSerialPortInfo &port : QSerialPortInfo::availablePorts()) {
        // Windows reports "COM3" both ways; elsewhere the configuration holds
        // the device's path, not its bare name.
        const QString location = port.systemLocation();
        names << (location.startsWith(QLatin1Char('/')) ? location : port.portName());
    }
    names.sort();
    return names;
}
