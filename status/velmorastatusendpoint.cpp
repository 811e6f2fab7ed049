#include "velmorastatusendpoint.h"

#include "velmorahealth.h"
#include "velmorahttpserver.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmorapasswordhash.h"
#include "velmorastatuspage.h"

#include <QDateTime>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

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

// A device's times go to the page as milliseconds since 1970 and the page
// writes them out: formatting them here took a quarter of a second of this
// thread for 10,000 devices at every refresh.
QJsonValue timeValue(qint64 msecs)
{
    return msecs == 0 ? QJsonValue() : QJsonValue(double(msecs));
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
    connect(refreshTimer, &QTimer::timeout, this, [this]() {
        emit heldRowsWantedSignal(true);
        emit deviceSnapshotRequestSignal();
    });
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
    emit heldRowsWantedSignal(true);
    emit deviceSnapshotRequestSignal();
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
    QString expected;
    {
        const std::lock_guard<std::mutex> locker(mutex);
        expected = password;
    }
    if (!VelmoraPasswordHash::matches(request.value(QStringLiteral("password")).toString(), expected))
        return 403;
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

void VelmoraStatusEndpoint::setHeldRows(const SVelmoraHeldRows &rows)
{
    heldRows = rows;
    rebuildStatus();
}

void VelmoraStatusEndpoint::setDevices(const SVelmoraDeviceSnapshot &snapshot)
{
    devices = snapshot;
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
    QJsonArray rows;
    for (const SVelmoraDeviceRow &device : devices.connected) {
        QJsonObject row;
        row.insert(QStringLiteral("id"), device.deviceId);
        row.insert(QStringLiteral("address"), QStringLiteral("%1:%2").arg(device.peerAddress).arg(device.peerPort));
        row.insert(QStringLiteral("connected"), timeValue(device.connectedAt));
        row.insert(QStringLiteral("lastFrame"), timeValue(device.lastFrameAt));
        rows.append(row);
    }
    object.insert(QStringLiteral("devices"), rows);
    // The page shows the times in this machine's local time, as the window does.
    object.insert(QStringLiteral("utcOffsetSeconds"), QDateTime::currentDateTime().offsetFromUtc());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
