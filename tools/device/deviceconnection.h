#ifndef DEVICECONNECTION_H
#define DEVICECONNECTION_H

#include "deviceframe.h"
#include "deviceoptions.h"
#include "framereader.h"

#include <QAbstractSocket>
#include <QElapsedTimer>
#include <QObject>

class DeviceReport;
class QJsonObject;
class QTcpSocket;
class QTimer;

// One simulated device on one TCP connection: MAC request, MAC reply, then
// its events, each sent only after the previous one was acknowledged.
class DeviceConnection : public QObject
{
    Q_OBJECT

public:
    // Exit codes of the simulator, also the outcome of one connection.
    enum Outcome {
        Ok = 0,
        ConnectionFailed = 2,
        MacRequestWrong = 3,
        AckMissing = 4,
        AckWrong = 5,
    };

    DeviceConnection(int number, const DeviceOptions &options, const DeviceReport &report,
                     QObject *parent = nullptr);

    void start();
    Outcome outcome() const { return result; }
    int eventsSent() const { return sent; }
    int eventsAcknowledged() const { return acknowledged; }

signals:
    void finished();

private slots:
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onSocketError(QAbstractSocket::SocketError error);
    void onTimeout();
    void sendNextEvent();

private:
    enum class State { Idle, Connecting, AwaitMacRequest, AwaitMacAck, Pausing, AwaitEventAck, Lingering, Done };

    void handleFrame(const QByteArray &frame);
    void afterAck();
    void send(const QByteArray &frame, const QString &what, const QJsonObject &fields);
    void await(State next);
    void fail(Outcome outcome, const QString &message);
    void finish();
    void report(const QString &text, QJsonObject fields) const;
    QString eventDescription(int index) const;

    const int number;
    const DeviceOptions &options;
    const DeviceReport &printer;
    const DeviceFrame::DeviceId id;
    QTcpSocket *socket = nullptr;
    QTimer *timeoutTimer = nullptr;
    QTimer *paceTimer = nullptr;
    FrameReader reader;
    QElapsedTimer clock;
    State state = State::Idle;
    Outcome result = Ok;
    int sent = 0;
    int acknowledged = 0;
    QByteArray expected;
};

#endif // DEVICECONNECTION_H
