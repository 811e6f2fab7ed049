#include "toolcommandline.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QTextStream>

namespace ToolCommandLine {

int parse(QCommandLineParser &parser, const QCommandLineOption &help, const QStringList &arguments,
          QString *error)
{
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return kUsageExitCode;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("Unexpected argument: %1").arg(parser.positionalArguments().first());
        return kUsageExitCode;
    }
    if (parser.isSet(help)) {
        QTextStream(stdout) << parser.helpText();
        return 0;
    }
    return kContinue;
}

bool readNumber(const QString &text, qint64 minimum, qint64 maximum, qint64 *value)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok, 10);
    if (!ok || number < minimum || number > maximum)
        return false;
    *value = number;
    return true;
}

int badValue(const QCommandLineOption &option, const QString &what, QString *error)
{
    *error = QStringLiteral("--%1: %2").arg(option.names().constLast(), what);
    return kUsageExitCode;
}

} // namespace ToolCommandLine
