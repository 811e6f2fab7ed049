#include "devicesocket.h"

#include "socketio.h"

#include <QSocketNotifier>

DeviceSocket::DeviceSocket(qintptr socketDescriptor, QObject *parent)
    : QObject(parent)
    , descriptor(socketDescriptor)
    , readNotifier(new QSocketNotifier(socketDescriptor, QSocketNotifier::Read, this))
{
    connect(readNotifier, &QSocketNotifier::activated, this, &DeviceSocket::readyRead);
}

DeviceSocket::~DeviceSocket()
{
    close();
}

qint64 DeviceSocket::read(char *buffer, qint64 capacity)
{
    if (!isOpen())
        return 0;
    if (writeFailed) {
        // reason holds the write's failure.
        close();
        return 0;
    }
    const SocketIo::Result result = SocketIo::receive(descriptor, buffer, capacity);
    switch (result.status) {
    case SocketIo::Status::Done:
        return result.bytes;
    case SocketIo::Status::WouldBlock:
        return 0;
    case SocketIo::Status::Closed:
        reason = QStringLiteral("The remote host closed the connection");
        close();
        return 0;
    case SocketIo::Status::Failed:
        reason = SocketIo::errorText(result.error);
        close();
        return 0;
    }
    return 0;
}

bool DeviceSocket::write(const QByteArray &bytes)
{
    if (!isOpen() || writeFailed)
        return false;
    if (bytes.isEmpty())
        return true;
    if (bytesToWrite() > 0) {
        waiting.append(bytes);
        updateReading();
        return true;
    }
    const SocketIo::Result result = SocketIo::send(descriptor, bytes.constData(), bytes.size());
    if (result.status == SocketIo::Status::Failed) {
        fail(result.error);
        return false;
    }
    const qint64 sent = result.status == SocketIo::Status::Done ? result.bytes : 0;
    if (sent == bytes.size())
        return true;
    waiting = bytes;
    waitingSent = sent;
    if (!writeNotifier) {
        writeNotifier = new QSocketNotifier(descriptor, QSocketNotifier::Write, this);
        connect(writeNotifier, &QSocketNotifier::activated, this, &DeviceSocket::sendWaiting);
    }
    writeNotifier->setEnabled(true);
    updateReading();
    return true;
}

void DeviceSocket::sendWaiting()
{
    while (isOpen() && bytesToWrite() > 0) {
        const SocketIo::Result result =
            SocketIo::send(descriptor, waiting.constData() + waitingSent, bytesToWrite());
        if (result.status == SocketIo::Status::WouldBlock)
            return;
        if (result.status == SocketIo::Status::Failed) {
            fail(result.error);
            return;
        }
        waitingSent += result.bytes;
    }
    waiting.clear();
    waitingSent = 0;
    if (writeNotifier)
        writeNotifier->setEnabled(false);
    updateReading();
}

void DeviceSocket::fail(int error)
{
    // The owner learns of it on the next read, which it is asked for here:
    // not every system reports a reset connection as readable.
    writeFailed = true;
    reason = SocketIo::errorText(error);
    waiting.clear();
    waitingSent = 0;
    if (writeNotifier)
        writeNotifier->setEnabled(false);
    QMetaObject::invokeMethod(this, &DeviceSocket::readyRead, Qt::QueuedConnection);
}

void DeviceSocket::updateReading()
{
    if (readNotifier)
        readNotifier->setEnabled(bytesToWrite() <= kMaxWaitingBytes);
}

void DeviceSocket::close()
{
    if (!isOpen())
        return;
    // The notifiers let go of the descriptor before it is closed, since the
    // system may hand the number out again at once; they are freed later,
    // as this may run inside one of their own signals.
    for (QSocketNotifier *notifier : {readNotifier, writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readNotifier = nullptr;
    writeNotifier = nullptr;
    SocketIo::close(descriptor);
    descriptor = -1;
    waiting.clear();
    waitingSent = 0;
}
