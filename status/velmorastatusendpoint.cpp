#include "velmorastatusendpoint.h"

#include "velmoradevicestatetext.h"
#include "velmorahealth.h"
#include "velmorahttpserver.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmorapasswordhash.h"
#include "velmorastatuspage.h"

#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

const char kTag[] = "http";
// The workers' copies are asked for as often as the page asks for them:
// more often only costs the network thread a copy of every device record.
const int kRefreshIntervalMs = VelmoraStatusPage::kRefreshMs;
const char kJson[] = "application/json";
const char kTimeFormat[] = "dd.MM.yyyy hh:mm:ss";

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

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

// Control bytes of the line (its 0x14 terminator) written as <14>, the way
// the Events window shows them; a browser would draw them as empty boxes.
QString printableLine(const QString &line)
{
    QString shown;
    for (const QChar character : line) {
        if (character.unicode() < 0x20 || character.unicode() == 0x7F)
            shown += QStringLiteral("<%1>").arg(character.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        else
            shown += character;
    }
    return shown;
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

VelmoraStatusEndpoint::VelmoraStatusEndpoint(QObject *parent)
    : QObject(parent)
    , refreshTimer(new QTimer(this))
{
    refreshTimer->setInterval(kRefreshIntervalMs);
    connect(refreshTimer, &QTimer::timeout, this, &VelmoraStatusEndpoint::refresh);
    rebuildStatus();
}

VelmoraStatusEndpoint::~VelmoraStatusEndpoint()
{
    stop();
}

bool VelmoraStatusEndpoint::parseAddress(const QString &text, QString *address, int *port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool converted = false;
    const int number = text.mid(colon + 1).toInt(&converted);
    if (!converted || number < 1 || number > 65535 || QHostAddress(host).isNull())
        return false;
    *address = host;
    *port = number;
    return true;
}

bool VelmoraStatusEndpoint::isLoopback(const QString &address)
{
    return QHostAddress(address).isLoopback();
}

bool VelmoraStatusEndpoint::apply(const QString &addressAndPort, const QString &passwordHash)
{
    stop();
    closePage();
    if (addressAndPort.isEmpty())
        return false;
    QString address;
    int port = 0;
    if (!parseAddress(addressAndPort, &address, &port)) {
        report(tr("[%1] The status page is off: LUMARIHTTP \"%2\" is not ADDRESS:PORT.").arg(QLatin1String(kTag), addressAndPort),
               QStringLiteral("[%1] The status page is off: LUMARIHTTP \"%2\" is not ADDRESS:PORT.").arg(QLatin1String(kTag), addressAndPort),
               true);
        return false;
    }
    const bool passwordSet = VelmoraPasswordHash::isHash(passwordHash);
    if (!isLoopback(address) && !passwordSet) {
        report(tr("[%1] The status page is off: listening on %2, which is not a loopback address, needs a password (LUMARIHTTPPASSWORD).")
                   .arg(QLatin1String(kTag), addressAndPort),
               QStringLiteral("[%1] The status page is off: listening on %2, which is not a loopback address, needs a password (LUMARIHTTPPASSWORD).")
                   .arg(QLatin1String(kTag), addressAndPort),
               true);
        return false;
    }
    {
        const std::lock_guard<std::mutex> locker(mutex);
        password = passwordSet ? passwordHash : QString();
        page = VelmoraStatusPage::html(passwordSet);
    }

    server = std::make_unique<VelmoraHttpServer>();
    server->get("/metrics", []() {
        return VelmoraHttpServer::Reply{200, "text/plain; version=0.0.4; charset=utf-8",
                                        toStd(VelmoraMetrics::instance().renderText())};
    });
    server->get("/health", []() {
        const VelmoraHealth::Facts facts =
            VelmoraHealth::factsOf(VelmoraMetrics::instance(), VelmoraMetrics::monotonicUs());
        return VelmoraHttpServer::Reply{VelmoraHealth::reasons(facts).isEmpty() ? 200 : 503, kJson,
                                        toStd(VelmoraHealth::json(facts))};
    });
    server->get("/", [this]() {
        const std::lock_guard<std::mutex> locker(mutex);
        return VelmoraHttpServer::Reply{200, "text/html; charset=utf-8", toStd(page)};
    });
    server->get("/status.json", [this]() {
        statusFetchedUs = VelmoraMetrics::monotonicUs();
        // A page opened after a while: the copies are asked for now, not
        // at the next tick.
        if (!pageSeen.exchange(true))
            QMetaObject::invokeMethod(this, &VelmoraStatusEndpoint::refresh, Qt::QueuedConnection);
        const std::lock_guard<std::mutex> locker(mutex);
        return VelmoraHttpServer::Reply{200, kJson, toStd(status)};
    });
    if (passwordSet) {
        server->post("/action", [this](const std::string &body) {
            const int code = actionStatus(body);
            return VelmoraHttpServer::Reply{code, kJson, code == 200 ? "{\"done\":true}" : "{\"done\":false}"};
        });
    }

    QString reason;
    if (!server->start(address, port, &reason)) {
        server.reset();
        report(tr("[%1] Unable to listen %2 for the status page: %3.").arg(QLatin1String(kTag), addressAndPort, reason),
               QStringLiteral("[%1] Unable to listen %2 for the status page: %3.").arg(QLatin1String(kTag), addressAndPort, reason),
               true);
        return false;
    }
    refreshTimer->start();
    report(tr("[%1] Status page listening on %2.").arg(QLatin1String(kTag), addressAndPort),
           QStringLiteral("[%1] Status page listening on %2.").arg(QLatin1String(kTag), addressAndPort), false);
    return true;
}

int VelmoraStatusEndpoint::actionStatus(const std::string &body)
{
    // Runs in an HTTP thread: the password is checked here, the action is
    // done in the GUI thread, where the window's own actions start.
    const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(body)).object();
    const QString action = request.value(QStringLiteral("action")).toString();
    const qint64 key = qint64(request.value(QStringLiteral("key")).toDouble());
    const QString deviceId = request.value(QStringLiteral("device")).toString();
    QString expected;
    bool refused = false;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        expected = password;
        refused = refusedNotListed.contains(deviceId);
    }
    if (!VelmoraPasswordHash::matches(request.value(QStringLiteral("password")).toString(), expected))
        return 403;
    if (action == QLatin1String("admit")) {
        // Only a device the page shows as refused for not being listed:
        // any other text never reaches the device list.
        if (!refused)
            return 409;
        QMetaObject::invokeMethod(
            this, [this, deviceId]() { emit admitDeviceSignal(deviceId); }, Qt::QueuedConnection);
        return 200;
    }
    const bool sendAgain = action == QLatin1String("sendAgain");
    if (!sendAgain && action != QLatin1String("release"))
        return 400;
    QMetaObject::invokeMethod(
        this,
        [this, sendAgain, key]() {
            if (sendAgain)
                emit sendAgainSignal(key);
            else
                emit releaseSignal(key);
        },
        Qt::QueuedConnection);
    return 200;
}

void VelmoraStatusEndpoint::stop()
{
    refreshTimer->stop();
    if (server) {
        server->stop();
        server.reset();
    }
}

bool VelmoraStatusEndpoint::isListening() const
{
    return server && server->isRunning();
}

int VelmoraStatusEndpoint::port() const
{
    return server ? server->port() : 0;
}

void VelmoraStatusEndpoint::report(const QString &screenText, const QString &fileText, bool error)
{
    emit logSignal(screenText);
    if (error)
        VelmoraCommon_LogError(fileText);
    else
        VelmoraCommon_LogInfo(fileText);
}

void VelmoraStatusEndpoint::setStatusTexts(const QStringList &texts)
{
    if (texts == statusTexts)
        return;
    statusTexts = texts;
    rebuildStatus();
}

void VelmoraStatusEndpoint::refresh()
{
    const qint64 fetchedUs = statusFetchedUs;
    // (A fetch's call may come after the endpoint was turned off.)
    if (isListening() && fetchedUs != 0 && VelmoraMetrics::monotonicUs() - fetchedUs < qint64(kPageOpenMs) * 1000) {
        pageOpen = true;
        askWorkers();
        return;
    }
    pageSeen = false;
    closePage();
}

void VelmoraStatusEndpoint::closePage()
{
    if (!pageOpen)
        return;
    // Nothing more is asked for, and what the copies held is let go, so
    // that a page opened later never shows it as current.
    pageOpen = false;
    emit heldRowsWantedSignal(false);
    heldRows.clear();
    heldRowsIn = false;
    deviceRowsJson = "[]";
    devicesIn = false;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        refusedNotListed.clear();
    }
    rebuildStatus();
}

void VelmoraStatusEndpoint::askWorkers()
{
    emit heldRowsWantedSignal(true);
    emit deviceSnapshotRequestSignal();
}

void VelmoraStatusEndpoint::setHeldRows(const SVelmoraHeldRows &rows)
{
    if (!pageOpen)
        return;
    heldRows = rows;
    heldRowsIn = true;
    rebuildStatus();
}

void VelmoraStatusEndpoint::setDevices(const SVelmoraDeviceSnapshot &snapshot)
{
    // The Devices window's copies come here too.
    if (!pageOpen)
        return;
    using Text = VelmoraDeviceStateText;
    QVector<const SVelmoraKnownDevice *> known;
    known.reserve(snapshot.known.size());
    QHash<QString, const SVelmoraKnownDevice *> knownById;
    knownById.reserve(snapshot.known.size());
    QSet<QString> refused;
    for (const SVelmoraKnownDevice &device : snapshot.known) {
        known << &device;
        knownById.insert(device.deviceId, &device);
        if (device.state == SVelmoraKnownDevice::State::RefusedNotListed)
            refused.insert(device.deviceId);
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
    // Written out once per copy, not at each change of the status texts.
    deviceRowsJson = json;
    devicesIn = true;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        refusedNotListed = refused;
    }
    rebuildStatus();
}

void VelmoraStatusEndpoint::rebuildStatus()
{
    const QByteArray json = statusJson();
    const std::lock_guard<std::mutex> locker(mutex);
    status = json;
}

QByteArray VelmoraStatusEndpoint::statusJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("connections"), statusTexts.value(0));
    object.insert(QStringLiteral("held"), statusTexts.value(1));
    object.insert(QStringLiteral("line"), statusTexts.value(2));
    object.insert(QStringLiteral("deviceTrouble"), statusTexts.value(3));
    object.insert(QStringLiteral("standby"), statusTexts.value(4));
    // Until the workers' first copies are in, the page asks again soon
    // rather than show empty tables.
    object.insert(QStringLiteral("copiesIn"), heldRowsIn && devicesIn);
    QJsonArray events;
    for (const SVelmoraHeldRow &row : heldRows) {
        QJsonObject event;
        event.insert(QStringLiteral("key"), double(row.key));
        event.insert(QStringLiteral("line"), printableLine(row.lineText));
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
    return json + ",\"devices\":" + deviceRowsJson + '}';
}
