#ifndef VELMORADEVICELIST_H
#define VELMORADEVICELIST_H

#include "svelmoradevicelistrow.h"

#include <QByteArray>
#include <QChar>
#include <QString>
#include <QVector>

// The operator's device list, a CSV file: the header
// "device_id,description,supervision_s,mac" and one row per device. The
// separator is the header's, ',' or ';' (Excel with Russian regional
// settings writes ';'); the text is UTF-8 with or without a byte order
// mark, else Windows-1251; fields holding the separator, quotes or line
// breaks are quoted as CSV does. A bad row is reported with its line number
// and skipped; the other rows stand.
class VelmoraDeviceList
{
public:
    static constexpr char kHeader[] = "device_id,description,supervision_s,mac";
    static constexpr int kMaxSupervisionS = 604800;

    struct Problem
    {
        int lineNumber = 0;
        QString reason;
    };

    struct Parsed
    {
        QVector<SVelmoraDeviceListRow> rows;
        QVector<Problem> problems;
        QChar separator = QLatin1Char(',');
    };

    static Parsed parse(const QByteArray &bytes);
    // The row of the device, or null.
    static const SVelmoraDeviceListRow *find(const Parsed &list, const QString &deviceId);

    // The file's bytes with the device's row put in place of the one it
    // has, or added at the end; every other line stays as it was, in the
    // file's own separator and encoding. An empty file gets the header.
    static QByteArray withRow(const QByteArray &bytes, const SVelmoraDeviceListRow &row);
    // The file's bytes without the device's row.
    static QByteArray withoutRow(const QByteArray &bytes, const QString &deviceId);
    // A whole file of the rows, UTF-8, in the given separator.
    static QByteArray toCsv(const QVector<SVelmoraDeviceListRow> &rows, QChar separator);

    // The field as CSV writes it: quoted when it holds the separator, a
    // quote or a line break.
    static QString quoted(const QString &field, QChar separator);
    static bool isDeviceId(const QString &text);
    static bool isMac(const QString &text);
};

#endif // VELMORADEVICELIST_H
