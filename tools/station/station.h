#ifndef STATION_H
#define STATION_H

#include "linereader.h"
#include "stationoptions.h"
#include "surgardline.h"

#include <QElapsedTimer>
#include <QObject>

class QJsonObject;
class QSocketNotifier;
class QTimer;
class StationPort;

// The simulated monitoring station: reads lines from the port, prints them
// decoded, answers them as the policy says and keeps the tally.
class Station : public QObject
{
    Q_OBJECT

public:
    enum ExitCode { Done = 0, PortFailed = 2, TimeRanOut = 3, UnrecognisedLine = 4 };

    Station(const StationOptions &options, StationPort &port, QObject *parent = nullptr);

    void start();
    // Ends the run: stops reading, prints the summary and, once the last
    // answer had time to be read, emits finished with the exit code.
    void stop(ExitCode code);

signals:
    void finished(int exitCode);

private:
    void readPort();
    void acceptConnection();
    // The converter closed its connection: the station listens on.
    void dropConnection(const QString &why);
    void handleLine(const QByteArray &text, bool terminated);
    void onTimeLimit();
    void print(const QString &text, const QJsonObject &fields) const;

    const StationOptions &options;
    StationPort &port;
    QSocketNotifier *notifier = nullptr;
    QSocketNotifier *listenNotifier = nullptr;
    // Reads a line that has nothing a notifier could watch.
    QTimer *pollTimer = nullptr;
    QTimer *timeLimit = nullptr;
    LineReader reader;
    QElapsedTimer clock;
    bool stopped = false;
    int lines = 0;
    int events = 0;
    int keepalives = 0;
    int unrecognised = 0;
    int acks = 0;
    int naks = 0;
    int unanswered = 0;
};

#endif // STATION_H
