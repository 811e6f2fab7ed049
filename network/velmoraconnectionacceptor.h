#ifndef VELMORACONNECTIONACCEPTOR_H
#define VELMORACONNECTIONACCEPTOR_H

#include "svelmoralogline.h"

#include <QObject>
#include <QString>
#include <QVector>

class QSocketNotifier;
class VelmoraClock;
class VelmoraConnectionTable;
class VelmoraTimer;

// The listening socket and the taking of new connections, with their
// back-pressure: at most a fixed number in one pass of the event loop, a
// pause while the process has no descriptor left, and a rest while the
// connection limit is reached. The new connections' descriptors go out on
// connectionsTaken, in the same call.
class VelmoraConnectionAcceptor : public QObject
{
    Q_OBJECT

public:
    VelmoraConnectionAcceptor(VelmoraClock &clock, const VelmoraConnectionTable &table, QObject *parent = nullptr);
    ~VelmoraConnectionAcceptor() override;

    void setReporter(SVelmoraLogLine::Sink sink);

    // How long accepting pauses when the process has no descriptor left.
    static constexpr int kDefaultAcceptPauseMs = 500;
    void setAcceptPause(int milliseconds);
    // The most connections served at once (0: no limit). Beyond it new
    // devices wait in the listener's queue until one leaves, so that the
    // process keeps descriptors for its own files: the day log, the
    // journal, the serial port.
    void setConnectionLimit(int limit);

    // Listens on the address, in place of any listener before (a second one
    // would hold the port), and reports whether it could.
    bool listen(const QString &address, int port);
    void close();

    // A connection has ended: a rest at the connection limit ends with it.
    void connectionLeft();

signals:
    void connectionsTaken(const QVector<qintptr> &descriptors);

private:
    void acceptPending();
    void refuse(const QString &reason);
    void resume();

    const VelmoraConnectionTable &table;
    SVelmoraLogLine::Sink report;
    QString address;
    int port = 0;
    qintptr listenDescriptor = -1;
    QSocketNotifier *listenNotifier = nullptr;

    // While the process has no descriptor for a new connection, the
    // listener rests for acceptPauseMs at a time instead of being woken
    // again at once by the connection still waiting.
    VelmoraTimer *acceptPauseTimer = nullptr;
    int acceptPauseMs = kDefaultAcceptPauseMs;
    bool refusing = false;
    int connectionLimit = 0;
    // Refusing because the connection limit is reached: a device leaving
    // ends it, not the pause timer.
    bool atConnectionLimit = false;
};

#endif // VELMORACONNECTIONACCEPTOR_H
