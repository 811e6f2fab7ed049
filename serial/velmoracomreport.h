#ifndef VELMORACOMREPORT_H
#define VELMORACOMREPORT_H

#include "svelmoralogline.h"

#include <QString>

// One log line of the serial worker in its two copies, the window's and the
// day log's: the same text, translated in the worker's context, except for
// the parts that the day log keeps in English.
class VelmoraComReport
{
public:
    // "[com]" or "[com] " in front of the text.
    enum Prefix { Short, Spaced };

    explicit VelmoraComReport(Prefix prefix);

    VelmoraComReport &plain(const QString &text);
    VelmoraComReport &translated(const char *source);
    VelmoraComReport &translatedOnScreenOnly(const char *source);
    // source with its %1 replaced by count.
    VelmoraComReport &translatedCount(const char *source, int count);

    // Both copies as the program's one kind of log line, for the day log
    // at the error level, as the serial worker has always written them.
    SVelmoraLogLine line() const;

    QString screen;
    QString file;
};

// The lines about the port itself, all of one shape: the prefix, a text
// before the port name, the port name, punctuation, a text after it. A null
// text is left out.
struct VelmoraComPortLine
{
    VelmoraComReport::Prefix prefix;
    const char *before;
    // The day log keeps before in English.
    bool beforeOnScreenOnly;
    const char *punctuation;
    const char *after;

    VelmoraComReport report(const QString &portName) const;
};

#endif // VELMORACOMREPORT_H
