#include "velmorastatusjson.h"

#include "velmoradevicestatetext.h"
#include "velmorareceiverformat.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVector>

#include <algorithm>

namespace {

const char kTimeFormat[] = "dd.MM.yyyy hh:mm:ss";

// The devices' rows are written out by hand: with ten thousand devices,
// made through the JSON classes every 3 s, they took this thread over
// twice its time. A device's times go to the page as milliseconds since 1970
// and the page writes them out (formatting them here took a quarter of a
// second of this thread for 10,000 devices); 0, not yet, is left out.
void appendString(QByteArray &json, const QString &text)
{
    json += '"';
    for (const char byte : text.toUtf8()) {
        const auto code = static_cast<unsigned char>(byte);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += byte;
        } else if (code < 0x20) {
            json += "\\u00";
            json += "0123456789abcdef"[code >> 4];
            json += "0123456789abcdef"[code & 0xF];
        } else {
            json += byte;
        }
    }
    json += '"';
}

void appendField(QByteArray &json, const char *name, const QString &text)
{
    json += ",\"";
    json += name;
    json += "\":";
    appendString(json, text);
}

void appendNumber(QByteArray &json, const char *name, qint64 number, bool zeroLeftOut)
{
    if (zeroLeftOut && number == 0)
        return;
    json += ",\"";
    json += name;
    json += "\":";
    json += QByteArray::number(number);
}

const char *stateName(SVelmoraHeldRow::State state)
{
    switch (state) {
    case SVelmoraHeldRow::Waiting:
        return "waiting";
    case SVelmoraHeldRow::Refused:
        return "refused";
    case SVelmoraHeldRow::SetAside:
        return "setAside";
    }
    return "waiting";
}

} // namespace

QByteArray VelmoraStatusJson::deviceRows(const SVelmoraDeviceSnapshot &snapshot, QSet<QString> *refusedNotListed)
{
    using Text = VelmoraDeviceStateText;
    QVector<const SVelmoraKnownDevice *> known;
    known.reserve(snapshot.known.size());
    QHash<QString, const SVelmoraKnownDevice *> knownById;
    knownById.reserve(snapshot.known.size());
    for (const SVelmoraKnownDevice &device : snapshot.known) {
        known << &device;
        knownById.insert(device.deviceId, &device);
        if (device.state == SVelmoraKnownDevice::State::RefusedNotListed)
            refusedNotListed->insert(device.deviceId);
    }
    // As the Devices window has them: the connected devices in the order
    // they connected, then the known ones that are not.
    QByteArray json;
    json.reserve(160 * (snapshot.connected.size() + known.size()) + 2);
    json += '[';
    QSet<QString> connectedIds;
    const auto appendRow = [&](const SVelmoraDeviceRow *connection, const SVelmoraKnownDevice *device) {
        const bool connected = connection != nullptr;
        json += json.size() > 1 ? ",{\"id\":" : "{\"id\":";
        appendString(json, device ? device->deviceId : connection->deviceId);
        const Text::Shown shown = device ? Text::shownOf(*device, connected) : Text::Shown::Connected;
        appendField(json, "state", QLatin1String(Text::name(shown)));
        if (device) {
            appendField(json, "description", device->description);
            appendNumber(json, "period", device->periodS, false);
            if (shown == Text::Shown::HeardAgo)
                appendNumber(json, "heardSecondsAgo", std::max<qint64>(0, (snapshot.takenAt - device->lastHeardAt) / 1000),
                             false);
            if (shown == Text::Shown::AbsentSince)
                appendNumber(json, "absentSince", device->absentSince, true);
        }
        if (connection) {
            appendField(json, "address", QStringLiteral("%1:%2").arg(connection->peerAddress).arg(connection->peerPort));
            appendNumber(json, "connected", connection->connectedAt, true);
            appendNumber(json, "lastFrame", connection->lastFrameAt, true);
        }
        json += '}';
    };
    for (const SVelmoraDeviceRow &connection : snapshot.connected) {
        connectedIds.insert(connection.deviceId);
        appendRow(&connection, connection.deviceId.isEmpty() ? nullptr : knownById.value(connection.deviceId));
    }
    for (const SVelmoraKnownDevice *device : qAsConst(known)) {
        if (!connectedIds.contains(device->deviceId))
            appendRow(nullptr, device);
    }
    json += ']';
    return json;
}

QByteArray VelmoraStatusJson::status(const QStringList &texts, const SVelmoraHeldRows &held, bool copiesIn,
                                     const QByteArray &deviceRows)
{
    QJsonObject object;
    object.insert(QStringLiteral("connections"), texts.value(0));
    object.insert(QStringLiteral("held"), texts.value(1));
    object.insert(QStringLiteral("line"), texts.value(2));
    object.insert(QStringLiteral("deviceTrouble"), texts.value(3));
    object.insert(QStringLiteral("standby"), texts.value(4));
    object.insert(QStringLiteral("copiesIn"), copiesIn);
    QJsonArray events;
    for (const SVelmoraHeldRow &row : held) {
        QJsonObject event;
        event.insert(QStringLiteral("key"), double(row.key));
        event.insert(QStringLiteral("line"), VelmoraReceiverFormat::printableLine(row.lineText));
        event.insert(QStringLiteral("state"), QLatin1String(stateName(row.state)));
        event.insert(QStringLiteral("attempts"), row.attempts);
        event.insert(QStringLiteral("received"), row.msg.receivedAt.toString(QLatin1String(kTimeFormat)));
        events.append(event);
    }
    object.insert(QStringLiteral("events"), events);
    // The page shows the times in this machine's local time, as the window does.
    object.insert(QStringLiteral("utcOffsetSeconds"), QDateTime::currentDateTime().offsetFromUtc());
    QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    json.chop(1);
    return json + ",\"devices\":" + deviceRows + '}';
}
