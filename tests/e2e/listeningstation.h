#ifndef LISTENINGSTATION_H
#define LISTENINGSTATION_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStringList>

// The station simulator run as monitoring software that listens on TCP
// (lumari-station --listen), read through its JSON output.
class ListeningStation
{
public:
    ListeningStation() = default;
    ~ListeningStation();
    ListeningStation(const ListeningStation &) = delete;
    ListeningStation &operator=(const ListeningStation &) = delete;

    // Starts it on port (0: a free one) with the extra answer options and
    // waits until it listens.
    bool start(quint16 port, const QStringList &answerOptions = QStringList());
    // Ends it the hard way: its connection closes as a crash would close it.
    void kill();
    quint16 port() const { return listeningPort; }
    QString address() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(listeningPort); }

    // Every line received, with its 0x14, in order; and those answered ACK.
    QList<QByteArray> lines();
    QList<QByteArray> acknowledgedEvents();
    int connections();
    // Waits until at least count lines (or acknowledged event lines) came.
    bool waitForLines(int count, int timeoutMs);
    bool waitForAcknowledgedEvents(int count, int timeoutMs);

private:
    void readOutput();

    QProcess process;
    QByteArray pending;
    quint16 listeningPort = 0;
    QList<QByteArray> received;
    QList<QByteArray> acknowledged;
    int connected = 0;
};

#endif // LISTENINGSTATION_H
