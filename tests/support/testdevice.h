#ifndef TESTDEVICE_H
#define TESTDEVICE_H

#include <QByteArray>
#include <QTcpSocket>

// A device on a real loopback connection, written independently of the
// converter's own frame code so that both sides check each other.
class TestDevice
{
public:
    struct Event
    {
        quint16 type = 0x0004;
        quint8 messageType = 0x18;
        quint32 account = 0x001234; // three bytes
        quint16 event = 0x1130;     // qualifier digit and event code
        quint8 group = 0x01;
        quint16 zone = 0x0005;
    };

    explicit TestDevice(const QByteArray &deviceId);

    bool connectTo(quint16 port, int timeoutMs = 5000);
    // Reads the 24-byte frame every new connection starts with.
    QByteArray readMacRequest(int timeoutMs = 5000);
    // Sends the MAC reply; later events may be encrypted with it.
    bool sendMac(const QByteArray &mac);
    bool sendEvent(const Event &event, bool encrypted = false);
    bool sendRaw(const QByteArray &bytes);
    // Hands bytes to the socket without waiting: they go out while the
    // caller runs the event loop.
    void queueRaw(const QByteArray &bytes) { socket.write(bytes); }
    qint64 bytesToWrite() const { return socket.bytesToWrite(); }
    // Ends the sending side only: the converter reads what was sent, then
    // hangs up, and every reply it wrote before can still be read here.
    void finishSending();
    // The next 24 bytes from the converter, or what came before the time-out.
    QByteArray readFrame(int timeoutMs = 5000);
    QAbstractSocket::SocketState state() const { return socket.state(); }
    void disconnectFromHost() { socket.disconnectFromHost(); }
    // Bytes from the converter not read yet.
    qint64 bytesAvailable() const { return socket.bytesAvailable(); }

    QByteArray expectedAck() const;

    static QByteArray macRequest();
    static QByteArray buildFrame(quint16 type, const QByteArray &deviceId, const QByteArray &data,
                                 const QByteArray &encryptWith = QByteArray());
    static QByteArray eventData(const Event &event);
    // The Surgard line the converter should write for the event with the
    // default receiver "01" and line "1".
    static QByteArray expectedLine(const Event &event, const QByteArray &server = "01", const QByteArray &line = "1");

private:
    QByteArray id;
    QByteArray mac;
    QTcpSocket socket;
};

#endif // TESTDEVICE_H
