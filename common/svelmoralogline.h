#ifndef SVELMORALOGLINE_H
#define SVELMORALOGLINE_H

#include <QString>
#include <QStringList>

#include <functional>

// One report with its two copies: the window's, translated, and the day
// log's, in English at the given level. Every part of the program reports
// through this one type: the receiver, the serial worker and the start-up.
// Its day log copy is written here, the window's goes by a signal.
struct SVelmoraLogLine
{
    QString screenText; // empty: not shown in the window
    QString fileText;   // empty: not written to the day log
    int fileLevel = 0;

    enum class Screen { Hidden, Translated, Untranslated };

    // Where a worker's parts hand their lines: the worker shows the
    // window's copy and writes the day log's.
    using Sink = std::function<void(const SVelmoraLogLine &)>;

    // Fills both copies from the English templates (nullptr for a copy that
    // is not made). Templates are marked for translation in context.
    static SVelmoraLogLine make(const char *context, const char *screenTemplate, Screen screen,
                                const char *fileTemplate, int fileLevel, const QStringList &args);

    // Replaces %1, %2, ... with the arguments in one pass, so that text in an
    // argument is never taken for a place marker. "%05" is place marker 5.
    static QString fill(const QString &text, const QStringList &args);

    // Writes the day log's copy, if there is one, at its level.
    void writeToDayLog() const;
};

#endif // SVELMORALOGLINE_H
