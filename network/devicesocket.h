#ifndef DEVICESOCKET_H
#define DEVICESOCKET_H

#include <QByteArray>
#include <QObject>
#include <QString>

class QSocketNotifier;

// One device's connection, on the descriptor the listener accepted. Made
// for ten thousand of them at once: it holds no buffer of its own while
// idle (QTcpSocket keeps a read and a write buffer per connection), reads
// straight into the caller's buffer and writes straight to the system,
// keeping only what the system could not take yet.
class DeviceSocket : public QObject
{
    Q_OBJECT

public:
    // Takes the descriptor over; it is closed with the socket.
    explicit DeviceSocket(qintptr descriptor, QObject *parent = nullptr);
    ~DeviceSocket() override;
    DeviceSocket(const DeviceSocket &) = delete;
    DeviceSocket &operator=(const DeviceSocket &) = delete;

    bool isOpen() const { return descriptor >= 0; }

    // At most capacity bytes of what the device sent, into buffer; the
    // count, 0 when nothing waits. When the device has hung up or the
    // connection failed, the socket is closed (isOpen() is false) and
    // errorString() says why.
    qint64 read(char *buffer, qint64 capacity);

    // Sends what the system takes now and keeps the rest, sent as the
    // device reads it; while more than kMaxWaitingBytes wait, the device is
    // not read, so that one that sends without reading cannot make the
    // receiver hold its replies without end. False when the connection has
    // failed; readyRead follows, and the next read closes the socket.
    bool write(const QByteArray &bytes);
    static constexpr qint64 kMaxWaitingBytes = 65536;

    // Bytes written but not yet taken by the system.
    qint64 bytesToWrite() const { return waiting.size() - waitingSent; }

    void close();
    QString errorString() const { return reason; }

signals:
    // Something came, or the device hung up: read() tells which.
    void readyRead();

private:
    void sendWaiting();
    void fail(int error);
    void updateReading();

    qintptr descriptor = -1;
    QSocketNotifier *readNotifier = nullptr;
    // Made only when the system does not take a reply at once.
    QSocketNotifier *writeNotifier = nullptr;
    QByteArray waiting;
    qint64 waitingSent = 0;
    bool writeFailed = false;
    QString reason;
};

#endif // DEVICESOCKET_H
