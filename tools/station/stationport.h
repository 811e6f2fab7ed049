#ifndef STATIONPORT_H
#define STATIONPORT_H

#include <QString>

#include <memory>

// The station's end of the line: a real serial device, the master side of a
// pseudo-terminal whose slave the converter opens as its port (POSIX only),
// or the connection the converter made to a TCP port the station listens on
// (one at a time; a new one replaces the last). Each platform has its own
// implementation (stationport_posix.cpp, stationport_win.cpp).
class StationPort
{
public:
    StationPort();
    ~StationPort();
    StationPort(const StationPort &) = delete;
    StationPort &operator=(const StationPort &) = delete;

    // False where the system has no pseudo-terminals (Windows).
    static bool hasPseudoTerminals();

    // All three return false with a reason in errorString().
    // path: a device path, or a COM port name such as COM3 on Windows.
    bool openDevice(const QString &path, int baudRate);
    bool createPseudoTerminal(const QString &linkPath);
    // Listens on all IPv4 addresses; port 0 takes a free one.
    bool listenTcp(quint16 port);

    bool isListening() const;
    // The listening socket, for a QSocketNotifier.
    qintptr listeningSocket() const;
    quint16 listeningPort() const { return tcpPort; }
    // Takes the waiting connection as the line, closing the last one.
    // False with a reason when there was none to take.
    bool acceptConnection(QString *peer);
    bool hasConnection() const;
    void closeConnection();

    // What a QSocketNotifier can watch for input on the line; -1 when the
    // line has nothing of the kind (a COM port on Windows) and is polled.
    qintptr readNotifierHandle() const;
    // The path the converter should open.
    QString path() const { return portPath; }
    QString errorString() const { return error; }

    // Non-blocking read: bytes read, 0 when nothing is there, -1 on error,
    // kClosed when the converter closed its connection.
    static constexpr int kClosed = -2;
    int read(char *buffer, int size);
    bool writeByte(char byte);

private:
    struct Platform;

    // Sets errorString() to what followed by the system's reason; false.
    bool fail(const QString &what);

    std::unique_ptr<Platform> platform;
    quint16 tcpPort = 0;
    QString portPath;
    QString error;
};

#endif // STATIONPORT_H
