#include "stationport.h"

#include "serialport.h"

#include <winsock2.h>
#include <windows.h>

namespace {

// The system's message for a Windows or Winsock error code.
QString systemMessage(DWORD code)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString message = length > 0 && buffer ? QString::fromWCharArray(buffer, int(length)).trimmed()
                                                 : QStringLiteral("error %1").arg(code);
    LocalFree(buffer);
    return message;
}

bool makeNonBlocking(SOCKET socket)
{
    u_long on = 1;
    return ::ioctlsocket(socket, FIONBIO, &on) == 0;
}

} // namespace

struct StationPort::Platform
{
    bool winsockStarted = false;
    SOCKET listener = INVALID_SOCKET;
    SOCKET connection = INVALID_SOCKET;
    // The converter's own Windows serial port, read with time-outs of
    // nothing.
    SerialPort serial;

    // The serial port's failure as the station reports it; false.
    bool serialFailure(const QString &what, QString *error) const
    {
        *error = QStringLiteral("%1: %2").arg(what, QString::fromStdString(serial.lastErrorText()));
        return false;
    }
};

StationPort::StationPort() : platform(std::make_unique<Platform>()) {}

StationPort::~StationPort()
{
    platform->serial.close();
    if (platform->connection != INVALID_SOCKET)
        ::closesocket(platform->connection);
    if (platform->listener != INVALID_SOCKET)
        ::closesocket(platform->listener);
    if (platform->winsockStarted)
        WSACleanup();
}

bool StationPort::hasPseudoTerminals()
{
    return false;
}

bool StationPort::fail(const QString &what)
{
    error = QStringLiteral("%1: %2").arg(what, systemMessage(DWORD(WSAGetLastError())));
    return false;
}

bool StationPort::openDevice(const QString &path, int baudRate)
{
    SerialPort &serial = platform->serial;
    SerialLineSettings settings;
    settings.baudRate = baudRate;
    if (!serial.open(path.toStdString()))
        return platform->serialFailure(QStringLiteral("cannot open %1").arg(path), &error);
    // Zero time-outs: a read returns at once with what is waiting.
    if (!serial.applyLineSettings(settings) || !serial.setReadTimeouts(SerialReadTimeouts())) {
        platform->serialFailure(QStringLiteral("cannot configure %1").arg(path), &error);
        serial.close();
        return false;
    }
    portPath = path;
    return true;
}

bool StationPort::createPseudoTerminal(const QString &)
{
    error = QStringLiteral("there are no pseudo-terminals on Windows: give --device COMn or --listen PORT");
    return false;
}

bool StationPort::listenTcp(quint16 port)
{
    WSADATA data;
    const int started = WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        WSASetLastError(started);
        return fail(QStringLiteral("cannot start Winsock"));
    }
    platform->winsockStarted = true;
    platform->listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (platform->listener == INVALID_SOCKET)
        return fail(QStringLiteral("cannot create a socket"));
    // Another program on the same port is refused, never shared.
    const BOOL on = TRUE;
    ::setsockopt(platform->listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char *>(&on),
                 sizeof on);
    if (!makeNonBlocking(platform->listener))
        return fail(QStringLiteral("cannot make the socket non-blocking"));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    if (::bind(platform->listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        return fail(QStringLiteral("cannot listen on port %1").arg(port));
    if (::listen(platform->listener, 4) != 0)
        return fail(QStringLiteral("cannot listen on port %1").arg(port));
    int length = sizeof address;
    if (::getsockname(platform->listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail(QStringLiteral("cannot read the listening port"));
    tcpPort = ntohs(address.sin_port);
    portPath = QStringLiteral("tcp://127.0.0.1:%1").arg(tcpPort);
    return true;
}

bool StationPort::isListening() const
{
    return platform->listener != INVALID_SOCKET;
}

qintptr StationPort::listeningSocket() const
{
    return isListening() ? qintptr(platform->listener) : -1;
}

bool StationPort::acceptConnection(QString *peer)
{
    sockaddr_in address{};
    int length = sizeof address;
    const SOCKET socket = ::accept(platform->listener, reinterpret_cast<sockaddr *>(&address), &length);
    if (socket == INVALID_SOCKET)
        return fail(QStringLiteral("cannot accept a connection"));
    closeConnection();
    makeNonBlocking(socket);
    const BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on), sizeof on);
    platform->connection = socket;
    const quint32 host = ntohl(address.sin_addr.s_addr);
    *peer = QStringLiteral("%1.%2.%3.%4:%5")
                .arg(host >> 24)
                .arg((host >> 16) & 0xFF)
                .arg((host >> 8) & 0xFF)
                .arg(host & 0xFF)
                .arg(ntohs(address.sin_port));
    return true;
}

bool StationPort::hasConnection() const
{
    return platform->connection != INVALID_SOCKET || platform->serial.isOpen();
}

void StationPort::closeConnection()
{
    if (platform->connection != INVALID_SOCKET) {
        ::closesocket(platform->connection);
        platform->connection = INVALID_SOCKET;
    }
}

qintptr StationPort::readNotifierHandle() const
{
    return platform->connection != INVALID_SOCKET ? qintptr(platform->connection) : -1;
}

int StationPort::read(char *buffer, int size)
{
    if (platform->serial.isOpen()) {
        std::size_t received = 0;
        if (platform->serial.read(buffer, std::size_t(size), received))
            return int(received);
        platform->serialFailure(QStringLiteral("cannot read %1").arg(portPath), &error);
        return -1;
    }
    const int count = ::recv(platform->connection, buffer, size, 0);
    if (count == 0)
        return kClosed;
    if (count > 0)
        return count;
    const int code = WSAGetLastError();
    if (code == WSAECONNRESET || code == WSAECONNABORTED || code == WSAETIMEDOUT)
        return kClosed;
    if (code == WSAEWOULDBLOCK || code == WSAEINTR)
        return 0;
    fail(QStringLiteral("cannot read %1").arg(portPath));
    return -1;
}

bool StationPort::writeByte(char byte)
{
    if (platform->serial.isOpen()) {
        std::size_t written = 0;
        if (platform->serial.write(&byte, 1, written))
            return true;
        return platform->serialFailure(QStringLiteral("cannot write to %1").arg(portPath), &error);
    }
    if (::send(platform->connection, &byte, 1, 0) == 1)
        return true;
    return fail(QStringLiteral("cannot write to %1").arg(portPath));
}
