#ifndef STATIONOPTIONS_H
#define STATIONOPTIONS_H

#include "answerpolicy.h"
#include "toolcommandline.h"

#include <QString>
#include <QStringList>

// Everything the station simulator is told on its command line.
struct StationOptions
{
    QString devicePath;  // empty: create a pseudo-terminal
    QString linkPath;    // symlink to the pseudo-terminal, removed at exit
    int listenPort = -1; // from 0 (a free port): listen on TCP instead
    int baudRate = 19200;
    int receiverDigits = 2;
    AnswerPolicy policy;
    int maxLines = 0;      // 0: no limit
    qint64 maxSeconds = 0; // 0: no limit
    bool strict = false;
    bool json = false;

    static constexpr int kContinue = ToolCommandLine::kContinue;
    static constexpr int kUsageExitCode = ToolCommandLine::kUsageExitCode;
    // Parses the arguments (program name first). Returns kContinue to go on,
    // or the exit code to end with: 0 after --help, kUsageExitCode after an
    // error, whose text is in *error.
    static int parse(const QStringList &arguments, StationOptions *options, QString *error);
};

#endif // STATIONOPTIONS_H
