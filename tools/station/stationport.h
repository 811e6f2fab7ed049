#ifndef STATIONPORT_H
#define STATIONPORT_H

#include <QString>

// The station's end of the line: a real serial device, the master side of a
// pseudo-terminal whose slave the converter opens as its port, or the
// connection the converter made to a TCP port the station listens on (one at
// a time; a new one replaces the last).
class StationPort
{
public:
    StationPort() = default;
    ~StationPort();
    StationPort(const StationPort &) = delete;
    StationPort &operator=(const StationPort &) = delete;

    // Both return false with a reason in errorString().
    bool openDevice(const QString &path, int baudRate);
    bool createPseudoTerminal(const QString &linkPath);
    // Listens on all IPv4 addresses; port 0 takes a free one.
    bool listenTcp(quint16 port);

    bool isListening() const { return listenFd >= 0; }
    int listeningFd() const { return listenFd; }
    quint16 listeningPort() const { return tcpPort; }
    // Takes the waiting connection as the line, closing the last one.
    // False with a reason when there was none to take.
    bool acceptConnection(QString *peer);
    bool hasConnection() const { return portFd >= 0; }
    void closeConnection();

    int fd() const { return portFd; }
    // The path the converter should open.
    QString path() const { return portPath; }
    QString errorString() const { return error; }

    // Non-blocking read: bytes read, 0 when nothing is there, -1 on error,
    // kClosed when the converter closed its connection.
    static constexpr int kClosed = -2;
    int read(char *buffer, int size);
    bool writeByte(char byte);

private:
    bool fail(const QString &what);

    int portFd = -1;
    // The station keeps the slave open as well, so that the master does not
    // see a hang-up each time the converter closes and reopens its port.
    int slaveFd = -1;
    int listenFd = -1;
    quint16 tcpPort = 0;
    QString portPath;
    QString linkPath;
    QString error;
};

#endif // STATIONPORT_H
