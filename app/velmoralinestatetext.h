#ifndef VELMORALINESTATETEXT_H
#define VELMORALINESTATETEXT_H

#include "svelmoralinestate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

// The status bar's one short text for the line to the monitoring software.
class VelmoraLineStateText
{
    Q_DECLARE_TR_FUNCTIONS(VelmoraLineStateText)

public:
    // now decides whether "since" needs its date: only when it was not today.
    // With a fallback output both outputs are named, the one taking the
    // events first.
    static QString text(const SVelmoraLineState &state, const QDateTime &now);

private:
    // One output's state, as the texts with a fallback say it.
    static QString outputText(SVelmoraLineState::Kind kind, const QDateTime &since, const QString &reason,
                              const QDateTime &now);
};

#endif // VELMORALINESTATETEXT_H
