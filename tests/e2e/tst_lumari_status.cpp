#include "lumariinstance.h"
#include "notifysocket.h"
#include "ptystation.h"
#include "testdevice.h"

#include <QtTest>

#include <QDir>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>



namespace {

constexpr int kStartMs = 30000;
constexpr int kDeliveryMs = 60000;
// The line must stay unanswered for two keepalive periods of one second.
constexpr int kHealthChangeMs = 20000;
// Half of it is the watchdog's period.
constexpr int kWatchdogUs = 2000000;

struct Reply
{
    int status = 0;
    QByteArray contentType;
    QByteArray body;
};

Reply fetch(quint16 port, const QString &path)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path)));
    request.setTransferTimeout(5000);
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    Reply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

// The value of a sample without labels, -1 when absent.
double sample(const QByteArray &metrics, const QByteArray &name)
{
    for (const QByteArray &line : metrics.split('\n')) {
        if (line.startsWith(name + ' '))
            return line.mid(name.size() + 1).toDouble();
    }
    return -1;
}

SVelmoraConf confFor(const PtyStation &station, quint16 port, quint16 httpPort)
{
    SVelmoraConf conf;
    conf.tcpPort = port;
    conf.comName = station.slavePath();
    conf.keepAlive = 1;
    conf.httpAddress = QStringLiteral("127.0.0.1:%1").arg(httpPort);
    return conf;
}

} // namespace

// The status endpoint and the systemd notifications of the real program.
class TestLumariStatus : public QObject
{
    Q_OBJECT

private slots:
    void endpointsAnswerAndCountADelivery();
    void healthFollowsTheStation();
    void nonLoopbackWithoutPasswordIsRefused();
    void watchdogPingsStopWhileTheSerialThreadHangs();
    void readyWhileThePortIsClosedSaysWhy();
};

void TestLumariStatus::endpointsAnswerAndCountADelivery()
{
    PtyStation station;
    QVERIFY(station.isOpen());
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    const quint16 httpPort = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station, port, httpPort), kStartMs));

    const Reply page = fetch(httpPort, QStringLiteral("/"));
    QCOMPARE(page.status, 200);
    QVERIFY(page.contentType.startsWith("text/html"));
    QVERIFY(page.body.contains("fetch('/status.json'"));
    QCOMPARE(fetch(httpPort, QStringLiteral("/nothing")).status, 404);
    const Reply status = fetch(httpPort, QStringLiteral("/status.json"));
    QCOMPARE(status.status, 200);
    QVERIFY(QJsonDocument::fromJson(status.body).object().contains(QStringLiteral("events")));

    TestDevice device(QByteArray::fromHex("123456"));
    QVERIFY(device.connectTo(port));
    QCOMPARE(device.readMacRequest(), TestDevice::macRequest());
    QVERIFY(device.sendEvent(TestDevice::Event()));
    QCOMPARE(device.readFrame(), device.expectedAck());
    QVERIFY(station.waitForAcknowledgedEvents(1, kDeliveryMs));

    Reply metrics;
    QTRY_VERIFY_WITH_TIMEOUT(
        (metrics = fetch(httpPort, QStringLiteral("/metrics")), sample(metrics.body, "lumari_events_delivered_total") == 1),
        kDeliveryMs);
    QCOMPARE(metrics.status, 200);
    QVERIFY(metrics.contentType.startsWith("text/plain; version=0.0.4"));
    QCOMPARE(sample(metrics.body, "lumari_events_received_total"), 1.0);
    QCOMPARE(sample(metrics.body, "lumari_events_journaled_total"), 1.0);
    QCOMPARE(sample(metrics.body, "lumari_devices_connected"), 1.0);
    QCOMPARE(sample(metrics.body, "lumari_device_ack_latency_seconds_count"), 1.0);
    QCOMPARE(sample(metrics.body, "lumari_delivery_latency_seconds_count"), 1.0);
    // The device as the Devices window shows it, copied for the page once
    // the page fetches its status.
    const auto deviceState = [httpPort]() {
        const QJsonArray devices = QJsonDocument::fromJson(fetch(httpPort, QStringLiteral("/status.json")).body)
                                       .object().value(QStringLiteral("devices")).toArray();
        return devices.isEmpty() ? QJsonObject() : devices.first().toObject();
    };
    QJsonObject shown;
    QTRY_VERIFY_WITH_TIMEOUT((shown = deviceState(), shown.value(QStringLiteral("id")) == QLatin1String("123456")),
                             kDeliveryMs);
    QCOMPARE(shown.value(QStringLiteral("state")).toString(), QStringLiteral("connected"));

    const QString promtool = QStandardPaths::findExecutable(QStringLiteral("promtool"));
    if (promtool.isEmpty())
        QSKIP("promtool (Debian prometheus) is not installed; the format is not checked");
    QProcess check;
    check.start(promtool, {QStringLiteral("check"), QStringLiteral("metrics")});
    check.write(metrics.body);
    check.closeWriteChannel();
    QVERIFY(check.waitForFinished(30000));
    const QByteArray verdict = check.readAllStandardOutput() + check.readAllStandardError();
    QVERIFY2(check.exitCode() == 0 && verdict.trimmed().isEmpty(), verdict.constData());
}

void TestLumariStatus::healthFollowsTheStation()
{
    PtyStation station;
    QVERIFY(station.isOpen());
    LumariInstance lumari;
    const quint16 httpPort = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station, LumariInstance::freePort(), httpPort), kStartMs));

    Reply health;
    QTRY_COMPARE_WITH_TIMEOUT((health = fetch(httpPort, QStringLiteral("/health"))).status, 200, kHealthChangeMs);
    QCOMPARE(QJsonDocument::fromJson(health.body).object().value(QStringLiteral("healthy")).toBool(), true);

    station.setAcknowledging(false);
    QTRY_COMPARE_WITH_TIMEOUT((health = fetch(httpPort, QStringLiteral("/health"))).status, 503, kHealthChangeMs);
    const QJsonObject failed = QJsonDocument::fromJson(health.body).object();
    QCOMPARE(failed.value(QStringLiteral("healthy")).toBool(), false);
    QVERIFY2(QJsonDocument(failed).toJson().contains("two keepalive periods"), health.body.constData());

    station.setAcknowledging(true);
    QTRY_COMPARE_WITH_TIMEOUT(fetch(httpPort, QStringLiteral("/health")).status, 200, kHealthChangeMs);
}

void TestLumariStatus::nonLoopbackWithoutPasswordIsRefused()
{
    PtyStation station;
    LumariInstance lumari;
    const quint16 httpPort = LumariInstance::freePort();
    SVelmoraConf conf = confFor(station, LumariInstance::freePort(), httpPort);
    conf.httpAddress = QStringLiteral("0.0.0.0:%1").arg(httpPort);
    QVERIFY(lumari.startListening(conf, kStartMs));
    QVERIFY(lumari.waitForLog(QStringLiteral("[http] The status page is off: listening on 0.0.0.0:%1, which is not a "
                                             "loopback address, needs a password (LUMARIHTTPPASSWORD).")
                                  .arg(httpPort),
                              kStartMs));
    QCOMPARE(fetch(httpPort, QStringLiteral("/health")).status, 0);
}

void TestLumariStatus::watchdogPingsStopWhileTheSerialThreadHangs()
{
    QTemporaryDir dir;
    NotifySocket notify(dir.filePath(QStringLiteral("notify")));
    QVERIFY(notify.isValid());
    const QString stallFile = dir.filePath(QStringLiteral("stall"));
    qputenv("NOTIFY_SOCKET", QFile::encodeName(dir.filePath(QStringLiteral("notify"))));
    qputenv("WATCHDOG_USEC", QByteArray::number(kWatchdogUs));
    qputenv("LUMARI_TEST_STALL_FILE", QFile::encodeName(stallFile));
    PtyStation station;
    LumariInstance lumari;
    SVelmoraConf conf = confFor(station, LumariInstance::freePort(), 0);
    conf.httpAddress.clear();
    const bool started = lumari.startListening(conf, kStartMs);
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
    qunsetenv("LUMARI_TEST_STALL_FILE");
    QVERIFY(started);

    QTRY_COMPARE_WITH_TIMEOUT(notify.count("READY=1"), 1, kStartMs);
    QTRY_VERIFY_WITH_TIMEOUT(notify.count("WATCHDOG=1") >= 2, kStartMs);
    QVERIFY(notify.hasMessageStartingWith("STATUS=Line: "));

    QFile stall(stallFile);
    QVERIFY(stall.open(QIODevice::WriteOnly));
    stall.close();
    // A ping already answered may still let one through.
    QTest::qWait(2 * kWatchdogUs / 1000);
    const int beforeHang = notify.count("WATCHDOG=1");
    QTest::qWait(2 * kWatchdogUs / 1000);
    QCOMPARE(notify.count("WATCHDOG=1"), beforeHang);

    QVERIFY(QFile::remove(stallFile));
    QTRY_VERIFY_WITH_TIMEOUT(notify.count("WATCHDOG=1") > beforeHang, kStartMs);
}

// A port that cannot be opened keeps the receiver stopped on purpose: the
// service is still READY (or systemd would restart it in a loop) and says why.
void TestLumariStatus::readyWhileThePortIsClosedSaysWhy()
{
    QTemporaryDir dir;
    NotifySocket notify(dir.filePath(QStringLiteral("notify")));
    QVERIFY(notify.isValid());
    qputenv("NOTIFY_SOCKET", QFile::encodeName(dir.filePath(QStringLiteral("notify"))));
    PtyStation station;
    LumariInstance lumari;
    SVelmoraConf conf = confFor(station, LumariInstance::freePort(), 0);
    conf.httpAddress.clear();
    conf.comName = dir.filePath(QStringLiteral("no-such-port"));
    const bool started = lumari.writeConf(conf) && lumari.start();
    qunsetenv("NOTIFY_SOCKET");
    QVERIFY(started);

    QTRY_COMPARE_WITH_TIMEOUT(notify.count("READY=1"), 1, kStartMs);
    const QByteArray why = "STATUS=Not listening for devices: serial port " + QFile::encodeName(conf.comName) + " closed (";
    QTRY_VERIFY_WITH_TIMEOUT(notify.hasMessageStartingWith(why), kStartMs);
}

QTEST_GUILESS_MAIN(TestLumariStatus)
#include "tst_lumari_status.moc"
