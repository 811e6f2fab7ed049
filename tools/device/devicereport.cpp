#include "devicereport.h"

#include <QJsonDocument>

#include <cstdio>

void DeviceReport::print(const QString &text, const QJsonObject &fields) const
{
    const QByteArray line = json ? QJsonDocument(fields).toJson(QJsonDocument::Compact) : text.toUtf8();
    // Flushed at once so that a program reading the pipe sees each step as it happens.
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

QString DeviceReport::hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}
