#include "velmoracomreport.h"

#include "velmoralog.h"

#include <QCoreApplication>

namespace {

const char kContext[] = "VelmoraCom";

QString translate(const char *source)
{
    return QCoreApplication::translate(kContext, source);
}

} // namespace

VelmoraComReport::VelmoraComReport(Prefix prefix)
    : screen(QLatin1String(prefix == Short ? "[com]" : "[com] ")),
      file(screen)
{
}

SVelmoraLogLine VelmoraComReport::line() const
{
    SVelmoraLogLine both;
    both.screenText = screen;
    both.fileText = file;
    both.fileLevel = kLogError;
    return both;
}

VelmoraComReport &VelmoraComReport::plain(const QString &text)
{
    screen += text;
    file += text;
    return *this;
}

VelmoraComReport &VelmoraComReport::translated(const char *source)
{
    return plain(translate(source));
}

VelmoraComReport &VelmoraComReport::translatedOnScreenOnly(const char *source)
{
    screen += translate(source);
    file += QString::fromLatin1(source);
    return *this;
}

VelmoraComReport &VelmoraComReport::translatedCount(const char *source, int count)
{
    return plain(translate(source).arg(count));
}

VelmoraComReport VelmoraComPortLine::report(const QString &portName) const
{
    VelmoraComReport line(prefix);
    if (before) {
        if (beforeOnScreenOnly)
            line.translatedOnScreenOnly(before);
        else
            line.translated(before);
    }
    line.plain(portName);
    if (punctuation)
        line.plain(QString::fromLatin1(punctuation));
    if (after)
        line.translated(after);
    return line;
}
