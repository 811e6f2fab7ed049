#ifndef DEVICEOPTIONS_H
#define DEVICEOPTIONS_H

#include "deviceframe.h"
#include "toolcommandline.h"

#include <QString>
#include <QStringList>

// Everything the device simulator is told on its command line.
struct DeviceOptions
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 55555;
    DeviceFrame::Mac mac = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    quint32 firstId = 0x123456;
    int connections = 1;
    int alarms = 1;
    int tests = 0;
    quint16 packetType = DeviceFrame::kAlarmType;
    DeviceEvent event;
    bool encrypt = false;
    double rate = 0;  // events per second per connection; 0 = next one right after the ACK
    int timeoutMs = 5000;
    int lingerMs = 0;
    // Events acknowledged before the device goes silent with its connection
    // open; -1: it sends them all.
    int silentAfter = -1;
    bool json = false;

    // Parses the arguments (program name first). Returns kContinue to go on,
    // or the exit code to end with: 0 after --help, kUsageExitCode after an
    // error, whose text is in *error.
    static constexpr int kContinue = ToolCommandLine::kContinue;
    static constexpr int kUsageExitCode = ToolCommandLine::kUsageExitCode;
    static int parse(const QStringList &arguments, DeviceOptions *options, QString *error);
};

#endif // DEVICEOPTIONS_H
