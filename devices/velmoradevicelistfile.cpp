#include "velmoradevicelistfile.h"

#include "velmoradevicelist.h"

#include <QFile>
#include <QSaveFile>

bool VelmoraDeviceListFile::read(const QString &path, QByteArray *bytes, QString *error)
{
    bytes->clear();
    QFile file(path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *bytes = file.readAll();
    return true;
}

bool VelmoraDeviceListFile::write(const QString &path, const QByteArray &bytes, QString *error)
{
    // Unbuffered, so that a short write fails here rather than at commit.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || file.write(bytes) != bytes.size()) {
        *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

bool VelmoraDeviceListFile::putRow(const QString &path, const SVelmoraDeviceListRow &row, QString *error)
{
    QByteArray bytes;
    return read(path, &bytes, error) && write(path, VelmoraDeviceList::withRow(bytes, row), error);
}

bool VelmoraDeviceListFile::removeRow(const QString &path, const QString &deviceId, QString *error)
{
    QByteArray bytes;
    return read(path, &bytes, error) && write(path, VelmoraDeviceList::withoutRow(bytes, deviceId), error);
}
