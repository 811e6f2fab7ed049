#ifndef VELMORADEVICELISTFILE_H
#define VELMORADEVICELISTFILE_H

#include "svelmoradevicelistrow.h"

#include <QByteArray>
#include <QString>

// The operator's changes to the device list file, made from the devices
// window: each reads the file, changes one row (every other line stays as
// written) and puts the new file in place of the old in one step.
class VelmoraDeviceListFile
{
public:
    // The file's bytes; empty for a file that is not there.
    static bool read(const QString &path, QByteArray *bytes, QString *error);
    static bool write(const QString &path, const QByteArray &bytes, QString *error);
    static bool putRow(const QString &path, const SVelmoraDeviceListRow &row, QString *error);
    static bool removeRow(const QString &path, const QString &deviceId, QString *error);
};

#endif // VELMORADEVICELISTFILE_H
