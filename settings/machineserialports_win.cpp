#include "comportchoices.h"

#include <QSettings>

// Without the toolkit's serial-port module: Windows lists every serial port
// its drivers have created under this key, one value per port, the data
// being the port's name ("COM3").
QStringList machineSerialPorts()
{
    QSettings serialComm(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                         QSettings::NativeFormat);
    QStringList names;
    for (const QString &key : serialComm.childKeys()) {
        const QString name = serialComm.value(key).toString();
        if (!name.isEmpty())
            names << name;
    }
    names.sort();
    return names;
}
