#ifndef SVELMORALOGLINE_H
#define SVELMORALOGLINE_H

#include <QString>
#include <QStringList>

#include <functional>

// One report of the network receiver with its two copies: the window's,
// translated in the context VelmoraNetworkServer, and the day log's, in
// English at the given level.
struct SVelmoraLogLine
{
    QString screenText; // empty: not shown in the window
    QString fileText;   // empty: not written to the day log
    int fileLevel = 0;

    enum class Screen { Hidden, Translated, Untranslated };

    // Where the parts of the receiver hand their lines: the server shows
    // the window's copy and writes the day log's.
    using Sink = std::function<void(const SVelmoraLogLine &)>;

    // Every line of the network receiver starts with "[net]".
    static constexpr char kTag[] = "net";

    // Fills both copies from the English templates (nullptr for a copy that
    // is not made). Templates must be marked for translation in the context
    // VelmoraNetworkServer.
    static SVelmoraLogLine make(const char *screenTemplate, Screen screen,
                                const char *fileTemplate, int fileLevel, const QStringList &args);

    // Both copies of a template with the tag as %1 and args from %2 on; the
    // window's copy translated.
    static SVelmoraLogLine tagged(const char *text, int fileLevel, QStringList args);

    // Replaces %1, %2, ... with the arguments in one pass, so that text in an
    // argument is never taken for a place marker. "%05" is place marker 5.
    static QString fill(const QString &text, const QStringList &args);

    // Writes the day log's copy, if there is one, at its level.
    void writeToDayLog() const;
};

#endif // SVELMORALOGLINE_H
