#ifndef SIGNALWATCHER_H
#define SIGNALWATCHER_H

#include <QObject>

// Turns the system's requests to end the program into a Qt signal: SIGINT
// and SIGTERM on POSIX (signalwatcher_posix.cpp), Ctrl+C, Ctrl+Break and the
// console closing on Windows (signalwatcher_win.cpp). One at a time.
class SignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

    bool isWatching() const { return watching; }

signals:
    // reason: the signal's number, or the console event's type on Windows.
    void terminationRequested(int reason);

private:
    bool watching = false;
};

#endif // SIGNALWATCHER_H
