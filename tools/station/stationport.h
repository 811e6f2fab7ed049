#ifndef STATIONPORT_H
#define STATIONPORT_H

#include <QString>

// The station's end of the serial line: a real serial device, or the master
// side of a pseudo-terminal whose slave the converter opens as its port.
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

    int fd() const { return portFd; }
    // The path the converter should open.
    QString path() const { return portPath; }
    QString errorString() const { return error; }

    // Non-blocking read: bytes read, 0 when nothing is there, -1 on error.
    int read(char *buffer, int size);
    bool writeByte(char byte);

private:
    bool fail(const QString &what);

    int portFd = -1;
    // The station keeps the slave open as well, so that the master does not
    // see a hang-up each time the converter closes and reopens its port.
    int slaveFd = -1;
    QString portPath;
    QString linkPath;
    QString error;
};

#endif // STATIONPORT_H
