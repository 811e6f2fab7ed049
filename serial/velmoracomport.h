#ifndef VELMORACOMPORT_H
#define VELMORACOMPORT_H

#include "svelmoracomsettings.h"
#include "velmoraexchange.h"

#include <QObject>
#include <QString>

#include <memory>

class ReceiverLine;
class VelmoraClock;
class VelmoraComReport;
class VelmoraTimer;

// The serial worker's line and its life: choosing it by the port's name,
// the open sequence with its log lines, closing on request, and healing by
// itself: a port that would not open, or went away, is tried again every
// reopen interval, a failure said once however often it repeats.
class VelmoraComPort : public QObject
{
    Q_OBJECT

public:
    // settings is the worker's record, read at every open.
    VelmoraComPort(VelmoraClock &clock, const SVelmoraComSettings &settings, QObject *parent = nullptr);
    ~VelmoraComPort() override;

    // A start request: every line reported; false when the port did not
    // open (it is tried again on its own).
    bool start();
    // A port closed on request stays closed until the next start request.
    void close();
    // The device went away while open: said once, then tried again.
    void lose();
    bool isOpen() const;
    // The configured name, as the log lines give it.
    QString name() const { return settings.portName; }
    // The exchanges on the line chosen last.
    VelmoraExchange &exchange() { return lineExchange; }

signals:
    void reportSignal(const VelmoraComReport &line);
    // The port opened and is ready, at a start request or on a retry.
    void openedSignal();
    // The port is closed, for the reason given.
    void closedSignal(const QString &reason);

private:
    void reopen();
    // The open sequence; on failure the port is closed and tried again
    // later, and the failure is reported unless it is the one reported last.
    bool tryOpen();
    void forgetFailure();

    const SVelmoraComSettings &settings;
    // The line chosen by the port's name: a serial port or a TCP connection.
    std::unique_ptr<ReceiverLine> line;
    VelmoraExchange lineExchange;
    VelmoraTimer *reopenTimer = nullptr;
    // The open failure last reported: its step and the system's reason.
    int reportedFailureStep = -1;
    QString reportedFailureReason;
};

#endif // VELMORACOMPORT_H
