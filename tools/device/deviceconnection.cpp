#include "deviceconnection.h"

#include "devicereport.h"

#include <QJsonObject>
#include <QTcpSocket>
#include <QTimer>

namespace {

QString hexNumber(quint32 value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString compactHex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

} // namespace

DeviceConnection::DeviceConnection(int number, const DeviceOptions &options, const DeviceReport &report,
                                   QObject *parent)
    : QObject(parent),
      number(number),
      options(options),
      printer(report),
      id(DeviceFrame::idFromNumber(options.firstId + quint32(number - 1))),
      socket(new QTcpSocket(this)),
      timeoutTimer(new QTimer(this)),
      paceTimer(new QTimer(this))
{
    timeoutTimer->setSingleShot(true);
    paceTimer->setSingleShot(true);
    connect(socket, &QTcpSocket::connected, this, &DeviceConnection::onConnected);
    connect(socket, &QTcpSocket::readyRead, this, &DeviceConnection::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &DeviceConnection::onDisconnected);
    connect(socket, &QAbstractSocket::errorOccurred, this, &DeviceConnection::onSocketError);
    connect(timeoutTimer, &QTimer::timeout, this, &DeviceConnection::onTimeout);
    connect(paceTimer, &QTimer::timeout, this, &DeviceConnection::sendNextEvent);
}

void DeviceConnection::start()
{
    state = State::Connecting;
    timeoutTimer->start(options.timeoutMs);
    socket->connectToHost(options.host, options.port);
}

void DeviceConnection::onConnected()
{
    report(QStringLiteral("connected to %1:%2").arg(options.host).arg(options.port),
           {{QStringLiteral("step"), QStringLiteral("connected")}});
    expected = DeviceFrame::macRequest();
    await(State::AwaitMacRequest);
}

void DeviceConnection::onReadyRead()
{
    reader.append(socket->readAll());
    QByteArray frame;
    for (;;) {
        const FrameReader::Result taken = reader.take(&frame);
        if (taken == FrameReader::Result::NeedMore || state == State::Done)
            return;
        if (taken == FrameReader::Result::NotAFrame) {
            report(QStringLiteral("<- not a frame: %1").arg(DeviceReport::hex(frame)),
                   {{QStringLiteral("step"), QStringLiteral("received")},
                    {QStringLiteral("frame"), compactHex(frame)},
                    {QStringLiteral("ok"), false}});
            fail(state == State::AwaitMacRequest ? MacRequestWrong : AckWrong,
                 QStringLiteral("received bytes that are not a frame"));
            return;
        }
        handleFrame(frame);
    }
}

void DeviceConnection::handleFrame(const QByteArray &frame)
{
    const bool awaiting = state == State::AwaitMacRequest || state == State::AwaitMacAck
                          || state == State::AwaitEventAck;
    const QString what = state == State::AwaitMacRequest ? QStringLiteral("MAC request") : QStringLiteral("ACK");
    const bool right = awaiting && frame == expected;
    QJsonObject fields{{QStringLiteral("step"), QStringLiteral("received")},
                       {QStringLiteral("frame"), compactHex(frame)},
                       {QStringLiteral("ok"), right}};
    if (right) {
        report(QStringLiteral("<- %1 %2 ok").arg(what, DeviceReport::hex(frame)), fields);
    } else if (awaiting) {
        fields.insert(QStringLiteral("expected"), compactHex(expected));
        report(QStringLiteral("<- %1 %2 WRONG, expected %3").arg(what, DeviceReport::hex(frame),
                                                               DeviceReport::hex(expected)),
               fields);
    } else {
        report(QStringLiteral("<- unexpected frame %1").arg(DeviceReport::hex(frame)), fields);
    }
    if (!right) {
        fail(state == State::AwaitMacRequest ? MacRequestWrong : AckWrong,
             awaiting ? QStringLiteral("%1 wrong").arg(what) : QStringLiteral("frame while none was due"));
        return;
    }
    timeoutTimer->stop();
    switch (state) {
    case State::AwaitMacRequest: {
        clock.start();
        QJsonObject sentFields{{QStringLiteral("kind"), QStringLiteral("mac-reply")},
                               {QStringLiteral("mac"), compactHex(QByteArray(reinterpret_cast<const char *>(options.mac.data()),
                                                                             int(options.mac.size())))}};
        send(DeviceFrame::macReply(id, options.mac),
             QStringLiteral("MAC reply, MAC %1").arg(sentFields.value(QStringLiteral("mac")).toString()), sentFields);
        expected = DeviceFrame::ack(id);
        await(State::AwaitMacAck);
        break;
    }
    case State::AwaitMacAck:
        afterAck();
        break;
    case State::AwaitEventAck:
        ++acknowledged;
        afterAck();
        break;
    default:
        break;
    }
}

void DeviceConnection::afterAck()
{
    const int total = options.alarms + options.tests;
    if (options.silentAfter >= 0 && sent >= options.silentAfter) {
        // Silent, as a device whose line was cut: the connection stays
        // open and nothing more is sent.
        report(QStringLiteral("silent after %1 event(s), connection kept open").arg(sent),
               QJsonObject{{QStringLiteral("step"), QStringLiteral("silent")}, {QStringLiteral("events"), sent}});
        state = State::Lingering;
        if (options.lingerMs > 0)
            timeoutTimer->start(options.lingerMs);
        return;
    }
    if (sent >= total) {
        if (options.lingerMs > 0) {
            state = State::Lingering;
            timeoutTimer->start(options.lingerMs);
        } else {
            finish();
        }
        return;
    }
    state = State::Pausing;
    qint64 delayMs = 0;
    if (options.rate > 0) {
        // Sends are spaced from the MAC reply on, so a slow ACK does not
        // slow the rate unless it takes longer than the interval.
        const qint64 due = qint64(double(sent) * 1000.0 / options.rate);
        delayMs = qMax<qint64>(0, due - clock.elapsed());
    }
    paceTimer->start(int(delayMs));
}

void DeviceConnection::sendNextEvent()
{
    if (state != State::Pausing)
        return;
    const int index = sent;
    const bool alarm = index < options.alarms;
    const quint16 packetType = alarm ? options.packetType : DeviceFrame::kPeriodicTestType;
    const DeviceFrame::Mac *key = options.encrypt ? &options.mac : nullptr;
    const QByteArray frame = DeviceFrame::eventFrame(packetType, id, options.event, key);
    QJsonObject fields{{QStringLiteral("kind"), alarm ? QStringLiteral("alarm") : QStringLiteral("test")},
                       {QStringLiteral("index"), index + 1},
                       {QStringLiteral("packetType"), hexNumber(packetType, 4)},
                       {QStringLiteral("encrypted"), options.encrypt}};
    if (alarm) {
        fields.insert(QStringLiteral("account"), hexNumber(options.event.account, 6));
        fields.insert(QStringLiteral("event"), hexNumber(options.event.event, 4));
        fields.insert(QStringLiteral("group"), hexNumber(options.event.group, 2));
        fields.insert(QStringLiteral("zone"), hexNumber(options.event.zone, 3));
        fields.insert(QStringLiteral("messageType"), hexNumber(options.event.messageType, 2));
    }
    ++sent;
    send(frame, eventDescription(index), fields);
    expected = DeviceFrame::ack(id);
    await(State::AwaitEventAck);
}

QString DeviceConnection::eventDescription(int index) const
{
    const int total = options.alarms + options.tests;
    const QString crypt = options.encrypt ? QStringLiteral("encrypted") : QStringLiteral("plain");
    if (index >= options.alarms)
        return QStringLiteral("periodic test %1/%2, %3").arg(index + 1).arg(total).arg(crypt);
    return QStringLiteral("alarm %1/%2 account %3 event %4 group %5 zone %6 message type %7 packet %8, %9")
        .arg(index + 1)
        .arg(total)
        .arg(hexNumber(options.event.account, 6), hexNumber(options.event.event, 4),
             hexNumber(options.event.group, 2), hexNumber(options.event.zone, 3),
             hexNumber(options.event.messageType, 2), hexNumber(options.packetType, 4), crypt);
}

void DeviceConnection::send(const QByteArray &frame, const QString &what, const QJsonObject &fields)
{
    QJsonObject all = fields;
    all.insert(QStringLiteral("step"), QStringLiteral("sent"));
    all.insert(QStringLiteral("frame"), compactHex(frame));
    report(QStringLiteral("-> %1: %2").arg(what, DeviceReport::hex(frame)), all);
    socket->write(frame);
}

void DeviceConnection::await(State next)
{
    state = next;
    timeoutTimer->start(options.timeoutMs);
}

void DeviceConnection::onTimeout()
{
    switch (state) {
    case State::Connecting:
        fail(ConnectionFailed, QStringLiteral("no connection after %1 ms").arg(options.timeoutMs));
        break;
    case State::AwaitMacRequest:
        fail(MacRequestWrong, QStringLiteral("no MAC request after %1 ms").arg(options.timeoutMs));
        break;
    case State::AwaitMacAck:
    case State::AwaitEventAck:
        fail(AckMissing, QStringLiteral("no ACK after %1 ms").arg(options.timeoutMs));
        break;
    case State::Lingering:
        finish();
        break;
    default:
        break;
    }
}

void DeviceConnection::onDisconnected()
{
    if (state == State::Done)
        return;
    if (state == State::Lingering) {
        finish();
        return;
    }
    fail(ConnectionFailed, QStringLiteral("connection closed by the converter"));
}

void DeviceConnection::onSocketError(QAbstractSocket::SocketError error)
{
    if (state == State::Done || error == QAbstractSocket::RemoteHostClosedError)
        return;  // a close is reported by onDisconnected
    fail(ConnectionFailed, socket->errorString());
}

void DeviceConnection::fail(Outcome outcome, const QString &message)
{
    if (state == State::Done)
        return;
    result = outcome;
    report(QStringLiteral("FAILED: %1").arg(message),
           {{QStringLiteral("step"), QStringLiteral("failed")},
            {QStringLiteral("exit"), int(outcome)},
            {QStringLiteral("message"), message}});
    finish();
}

void DeviceConnection::finish()
{
    if (state == State::Done)
        return;
    state = State::Done;
    timeoutTimer->stop();
    paceTimer->stop();
    socket->abort();
    emit finished();
}

void DeviceConnection::report(const QString &text, QJsonObject fields) const
{
    const QString idText = hexNumber(DeviceFrame::idToNumber(id), 6);
    fields.insert(QStringLiteral("connection"), number);
    fields.insert(QStringLiteral("id"), idText);
    printer.print(QStringLiteral("[%1 %2] %3").arg(number).arg(idText, text), fields);
}
