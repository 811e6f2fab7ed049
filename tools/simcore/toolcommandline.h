#ifndef TOOLCOMMANDLINE_H
#define TOOLCOMMANDLINE_H

#include <QString>
#include <QStringList>

class QCommandLineOption;
class QCommandLineParser;

// What the simulators' command lines have in common.
namespace ToolCommandLine {

constexpr int kContinue = -1;
constexpr int kUsageExitCode = 1;

// Parses the arguments (program name first) with the options already added.
// Returns kContinue to go on, 0 after printing --help, or kUsageExitCode with
// the reason in error (unknown option, missing value, stray argument).
int parse(QCommandLineParser &parser, const QCommandLineOption &help, const QStringList &arguments,
          QString *error);

// A decimal number within minimum..maximum.
bool readNumber(const QString &text, qint64 minimum, qint64 maximum, qint64 *value);

// Sets error to "--option: what" and returns kUsageExitCode.
int badValue(const QCommandLineOption &option, const QString &what, QString *error);

} // namespace ToolCommandLine

#endif // TOOLCOMMANDLINE_H
