#include "svelmoralogline.h"

#include "velmoralog.h"

#include <QCoreApplication>

SVelmoraLogLine SVelmoraLogLine::make(const char *context, const char *screenTemplate, Screen screen,
                                      const char *fileTemplate, int fileLevel, const QStringList &args)
{
    SVelmoraLogLine line;
    if (screenTemplate && screen != Screen::Hidden) {
        const QString text = screen == Screen::Translated
            ? QCoreApplication::translate(context, screenTemplate)
            : QString::fromLatin1(screenTemplate);
        line.screenText = fill(text, args);
    }
    if (fileTemplate) {
        line.fileText = fill(QString::fromLatin1(fileTemplate), args);
        line.fileLevel = fileLevel;
    }
    return line;
}

QString SVelmoraLogLine::fill(const QString &text, const QStringList &args)
{
    QString result;
    result.reserve(text.size() + 16 * args.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        int digits = 0;
        int number = 0;
        while (c == QLatin1Char('%') && digits < 2 && i + 1 + digits < text.size()
               && text.at(i + 1 + digits).isDigit()) {
            number = number * 10 + text.at(i + 1 + digits).digitValue();
            ++digits;
        }
        if (digits > 0 && number >= 1 && number <= args.size()) {
            result += args.at(number - 1);
            i += digits;
        } else {
            result += c;
        }
    }
    return result;
}

void SVelmoraLogLine::writeToDayLog() const
{
    if (fileText.isEmpty())
        return;
    if (fileLevel == kLogError)
        VelmoraCommon_LogError(fileText);
    else if (fileLevel == kLogInfo)
        VelmoraCommon_LogInfo(fileText);
    else
        VelmoraCommon_Logprintf(fileText, fileLevel);
}
