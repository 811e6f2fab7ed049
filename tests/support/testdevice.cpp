#include "testdevice.h"

#include <sys/socket.h>

#include <QDeadlineTimer>

TestDevice::TestDevice(const QByteArray &deviceId)
    : id(deviceId)
{
}

bool TestDevice::connectTo(quint16 port, int timeoutMs)
{
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    return socket.waitForConnected(timeoutMs);
}

QByteArray TestDevice::readMacRequest(int timeoutMs)
{
    return readFrame(timeoutMs);
}

bool TestDevice::sendMac(const QByteArray &newMac)
{
    mac = newMac;
    return sendRaw(buildFrame(0x0090, id, newMac + QByteArray(2, '\0')));
}

bool TestDevice::sendEvent(const Event &event, bool encrypted)
{
    return sendRaw(buildFrame(event.type, id, eventData(event), encrypted ? mac : QByteArray()));
}

bool TestDevice::sendRaw(const QByteArray &bytes)
{
    if (socket.write(bytes) != bytes.size())
        return false;
    return socket.waitForBytesWritten(5000);
}

void TestDevice::finishSending()
{
    socket.flush();
    ::shutdown(static_cast<int>(socket.socketDescriptor()), SHUT_WR);
}

QByteArray TestDevice::readFrame(int timeoutMs)
{
    constexpr int kFrameSize = 24;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.bytesAvailable() < kFrameSize && !deadline.hasExpired()) {
        if (!socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    return socket.read(kFrameSize);
}

QByteArray TestDevice::expectedAck() const
{
    QByteArray frame = QByteArray::fromHex("4DD40000100000800001 01");
    frame += id;
    frame += QByteArray::fromHex("0000000000 01");
    const quint8 check = static_cast<quint8>(0x93 + quint8(id[0]) + quint8(id[1]) + quint8(id[2]));
    frame += char(check);
    frame += QByteArray::fromHex("4C0D0A");
    return frame;
}

QByteArray TestDevice::macRequest()
{
    return QByteArray::fromHex("4DD40000100000000001 01FFFFFF0000000000 99A84C0D0A");
}

QByteArray TestDevice::buildFrame(quint16 type, const QByteArray &deviceId, const QByteArray &data,
                                  const QByteArray &encryptWith)
{
    QByteArray payload = QByteArray::fromHex("0000 0000 01 01");
    payload += deviceId;
    payload += QByteArray::fromHex("00000000");
    payload += char(type >> 8);
    payload += char(type & 0xFF);
    payload += data;
    const int length = payload.size() + 1;
    quint32 sum = quint8(length >> 8) + quint8(length & 0xFF);
    for (char byte : payload)
        sum += quint8(byte);
    payload += char(sum & 0xFF);
    if (!encryptWith.isEmpty()) {
        for (int i = 0; i < payload.size(); ++i)
            payload[i] = char(payload[i] ^ encryptWith[i % encryptWith.size()]);
    }
    QByteArray frame = QByteArray::fromHex("4DD4");
    frame += char(encryptWith.isEmpty() ? 0 : 1);
    frame += char(length >> 8);
    frame += char(length & 0xFF);
    frame += payload;
    frame += QByteArray::fromHex("4C0D0A");
    return frame;
}

QByteArray TestDevice::eventData(const Event &event)
{
    QByteArray data;
    data += '\0';
    data += char(event.messageType);
    data += char((event.account >> 16) & 0xFF);
    data += char((event.account >> 8) & 0xFF);
    data += char(event.account & 0xFF);
    data += char(event.event >> 8);
    data += char(event.event & 0xFF);
    data += char(event.group);
    data += char(event.zone >> 8);
    data += char(event.zone & 0xFF);
    return data;
}

QByteArray TestDevice::expectedLine(const Event &event, const QByteArray &server, const QByteArray &line)
{
    const QByteArray account = QByteArray::number(event.account, 16).toUpper().rightJustified(6, '0');
    const QByteArray code = QByteArray::number(event.event, 16).toUpper().rightJustified(4, '0');
    const QByteArray zone = QByteArray::number(event.zone >> 8, 16).toUpper()
        + QByteArray::number(event.zone & 0xFF, 16).toUpper().rightJustified(2, '0');
    return "5" + server + line + " 18" + account.right(4) + (code[0] == '1' ? "E" : "R") + code.mid(1)
        + QByteArray::number(event.group, 16).toUpper().rightJustified(2, '0') + zone + "\x14";
}
