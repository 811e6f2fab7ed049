#ifndef VELMORALINESTATES_H
#define VELMORALINESTATES_H

#include "svelmoralinestate.h"
#include "velmoraoutputchooser.h"

#include <QObject>
#include <QString>

class VelmoraClock;

// The serial worker's record of the line's state: each output's state and
// since when, which output takes the events, and the number of events set
// aside. Every change goes to the metrics and out as one copy.
class VelmoraLineStates : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraLineStates(VelmoraClock &clock, QObject *parent = nullptr);

    const SVelmoraLineState &current() const { return state; }
    // Sent as it stands, also when nothing changed.
    void announce();

    // A start: the fallback's name (empty: none), the primary in use.
    void setFallback(const QString &name);
    void setOutputInUse(VelmoraOutputChooser::Output output);
    // The reason counts only for a closed port.
    void setKind(VelmoraOutputChooser::Output output, SVelmoraLineState::Kind kind,
                 const QString &reason = QString());
    void setSetAside(int count);

signals:
    void changedSignal(SVelmoraLineState state);

private:
    void publish(const SVelmoraLineState &next);

    VelmoraClock &clock;
    SVelmoraLineState state;
};

#endif // VELMORALINESTATES_H
