#ifndef DEVICEREPORT_H
#define DEVICEREPORT_H

#include <QJsonObject>
#include <QString>

// Prints what the simulated devices do, either as text for a person or as
// one JSON object per line for a test.
class DeviceReport
{
public:
    explicit DeviceReport(bool json) : json(json) {}

    // text is the human line; fields the same facts for the JSON form.
    void print(const QString &text, const QJsonObject &fields) const;

    // Frames as spaced hex, the way installers read them in the converter's log.
    static QString hex(const QByteArray &bytes);

private:
    bool json = false;
};

#endif // DEVICEREPORT_H
