#include "velmorahealth.h"
#include "velmoralog.h"
#include "velmorapasswordhash.h"
#include "velmorastatusendpoint.h"

#include <QtTest>

#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTcpServer>

using LineState = VelmoraMetrics::LineState;

// The health verdict from its facts, the endpoint's address rule, the
// password hash, and which devices the page may admit.
class TestVelmoraHealth : public QObject
{
    Q_OBJECT

private slots:
    void reasons_data();
    void reasons();
    void address_data();
    void address();
    void passwordHash();
    void admit_data();
    void admit();
};

void TestVelmoraHealth::reasons_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<bool>("journal");
    QTest::addColumn<int>("lineState");
    QTest::addColumn<qint64>("keepaliveMs");
    // Seconds since the last answer; -1: never answered.
    QTest::addColumn<int>("answeredAgo");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("standby");

    const int open = int(LineState::Answering);
    QTest::newRow("all well") << true << true << open << qint64(60000) << 10 << QString() << false;
    QTest::newRow("answered just within two periods") << true << true << open << qint64(60000) << 119 << QString() << false;
    QTest::newRow("silent for two periods") << true << true << int(LineState::NotAnswering) << qint64(60000) << 121
                                            << "within two keepalive periods" << false;
    QTest::newRow("never answered") << true << true << int(LineState::PortOpen) << qint64(60000) << -1
                                    << "not answered since the start" << false;
    QTest::newRow("no keepalive, port open, never answered") << true << true << int(LineState::PortOpen) << qint64(0)
                                                             << -1 << QString() << false;
    QTest::newRow("port closed") << true << true << int(LineState::PortClosed) << qint64(0) << -1 << "port" << false;
    QTest::newRow("receiver not listening") << false << true << open << qint64(60000) << 1 << "not listening" << false;
    QTest::newRow("journal not writable") << true << false << open << qint64(60000) << 1 << "journal" << false;
    QTest::newRow("standby, not listening, port closed") << false << true << int(LineState::PortClosed) << qint64(0)
                                                         << -1 << "standby" << true;
}

void TestVelmoraHealth::reasons()
{
    QFETCH(bool, listening);
    QFETCH(bool, journal);
    QFETCH(int, lineState);
    QFETCH(qint64, keepaliveMs);
    QFETCH(int, answeredAgo);
    QFETCH(QString, reason);
    QFETCH(bool, standby);

    VelmoraHealth::Facts facts;
    facts.standby = standby;
    facts.listening = listening;
    facts.journalWritable = journal;
    facts.lineState = LineState(lineState);
    facts.keepalivePeriodMs = keepaliveMs;
    facts.nowUs = 1000000000000;
    facts.lastAnsweredUs = answeredAgo < 0 ? 0 : facts.nowUs - qint64(answeredAgo) * 1000000;
    const QStringList found = VelmoraHealth::reasons(facts);
    if (reason.isEmpty())
        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char(';'))));
    else
        QVERIFY2(found.size() == 1 && found.first().contains(reason), qPrintable(found.join(QLatin1Char(';'))));
    QCOMPARE(VelmoraHealth::json(facts).contains("\"healthy\":true"), reason.isEmpty());
}

void TestVelmoraHealth::address_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("loopback");

    QTest::newRow("IPv4 loopback") << "127.0.0.1:8080" << true << true;
    QTest::newRow("IPv6 loopback in brackets") << "[::1]:8080" << true << true;
    QTest::newRow("all addresses") << "0.0.0.0:8080" << true << false;
    QTest::newRow("port 0") << "127.0.0.1:0" << false << false;
    QTest::newRow("port above 65535") << "127.0.0.1:65536" << false << false;
    QTest::newRow("no port") << "127.0.0.1" << false << false;
    QTest::newRow("a name, not an address") << "localhost:8080" << false << false;
}

void TestVelmoraHealth::address()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(bool, loopback);
    QString address;
    int port = 0;
    QCOMPARE(VelmoraStatusEndpoint::parseAddress(text, &address, &port), valid);
    if (valid)
        QCOMPARE(VelmoraStatusEndpoint::isLoopback(address), loopback);
}

void TestVelmoraHealth::passwordHash()
{
    const QString stored = VelmoraPasswordHash::make(QStringLiteral("secret"));
    QVERIFY(!stored.contains(QLatin1String("secret")));
    QVERIFY(VelmoraPasswordHash::isHash(stored));
    QVERIFY(VelmoraPasswordHash::matches(QStringLiteral("secret"), stored));
    QVERIFY(!VelmoraPasswordHash::matches(QStringLiteral("Secret"), stored));
    QVERIFY(!VelmoraPasswordHash::matches(QString(), stored));
    // Salted: the same password never gives the same text twice.
    QVERIFY(VelmoraPasswordHash::make(QStringLiteral("secret")) != stored);
    QVERIFY(!VelmoraPasswordHash::matches(QStringLiteral("secret"), QStringLiteral("secret")));
}

void TestVelmoraHealth::admit_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<int>("status");

    QTest::newRow("refused device, the password") << "secret" << "654321" << 200;
    QTest::newRow("refused device, a wrong password") << "Secret" << "654321" << 403;
    QTest::newRow("a device not refused") << "secret" << "123456" << 409;
    QTest::newRow("a text that is no device") << "secret" << "654321,x\n" << 409;
}

// Only a device the page shows refused for not being listed reaches the
// device list, and only with the password.
void TestVelmoraHealth::admit()
{
    QFETCH(QString, password);
    QFETCH(QString, deviceId);
    QFETCH(int, status);

    QTemporaryDir logDirectory;
    QCOMPARE(VelmoraCommon_LogInit(logDirectory.path() + QLatin1Char('/'), kLogDebug), 1);
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    VelmoraStatusEndpoint endpoint;
    QSignalSpy asked(&endpoint, &VelmoraStatusEndpoint::deviceSnapshotRequestSignal);
    QSignalSpy admitted(&endpoint, &VelmoraStatusEndpoint::admitDeviceSignal);
    QVERIFY(endpoint.apply(QStringLiteral("127.0.0.1:%1").arg(port), VelmoraPasswordHash::make(QStringLiteral("secret"))));
    QNetworkAccessManager manager;
    const auto wait = [](QNetworkReply *reply) {
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->deleteLater();
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    };
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(port);
    // The page opened: the copies are asked for.
    QCOMPARE(wait(manager.get(QNetworkRequest(QUrl(base + QStringLiteral("/status.json"))))), 200);
    QTRY_VERIFY(asked.count() > 0);
    SVelmoraDeviceSnapshot snapshot;
    SVelmoraKnownDevice refused;
    refused.deviceId = QStringLiteral("654321");
    refused.state = SVelmoraKnownDevice::State::RefusedNotListed;
    SVelmoraKnownDevice listed;
    listed.deviceId = QStringLiteral("123456");
    listed.listed = true;
    listed.description = QStringLiteral("Склад \"B\"\\\t</script>");
    snapshot.known << listed << refused;
    endpoint.setDevices(snapshot);
    // The rows, written out by hand, are JSON the page reads back as given.
    QNetworkReply *statusReply = manager.get(QNetworkRequest(QUrl(base + QStringLiteral("/status.json"))));
    QCOMPARE(wait(statusReply), 200);
    const QJsonArray rows = QJsonDocument::fromJson(statusReply->readAll()).object().value(QStringLiteral("devices")).toArray();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows.at(0).toObject().value(QStringLiteral("description")).toString(), listed.description);
    QCOMPARE(rows.at(1).toObject().value(QStringLiteral("state")).toString(), QStringLiteral("refusedNotListed"));

    QNetworkRequest post(QUrl(base + QStringLiteral("/action")));
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    const QJsonObject body{{QStringLiteral("action"), QStringLiteral("admit")},
                           {QStringLiteral("device"), deviceId},
                           {QStringLiteral("password"), password}};
    QCOMPARE(wait(manager.post(post, QJsonDocument(body).toJson())), status);
    QCoreApplication::processEvents();
    QCOMPARE(admitted.count(), status == 200 ? 1 : 0);
    if (status == 200)
        QCOMPARE(admitted.first().first().toString(), deviceId);
}

QTEST_GUILESS_MAIN(TestVelmoraHealth)
#include "tst_velmorahealth.moc"
