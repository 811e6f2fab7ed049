#include "velmorastatusendpoint.h"

#include "velmorahealth.h"
#include "velmorahttpserver.h"
#include "velmoralog.h"
#include "velmorametrics.h"
#include "velmorapasswordhash.h"
#include "velmorastatusjson.h"
#include "velmorastatuspage.h"

#include <QHostAddress>
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

std::string toStd(const QByteArray &bytes)
{
    return std::string(bytes.constData(), std::size_t(bytes.size()));
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
    QSet<QString> refused;
    const QByteArray json = VelmoraStatusJson::deviceRows(snapshot, &refused);
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
    // Until the workers' first copies are in, the page asks again soon
    // rather than show empty tables.
    return VelmoraStatusJson::status(statusTexts, heldRows, heldRowsIn && devicesIn, deviceRowsJson);
}
