#include "receiverline.h"
#include "svelmoracomsettings.h"
#include "tcpaddress.h"
#include "tcpline.h"
#include "velmoraportopening.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

#include <sys/socket.h>

// The TCP line against a real loopback listener standing in for the
// monitoring software.
class TestTcpLine : public QObject
{
    Q_OBJECT

private slots:
    void addressNames_data();
    void addressNames();
    void lineChosenByName_data();
    void lineChosenByName();
    void openFailuresGiveTheReason_data();
    void openFailuresGiveTheReason();
    void lineAndAnswerOverTheConnection();
    void staleBytesDiscardedBeforeTheNextLine();
    void peerCloseMeansGone_data();
    void peerCloseMeansGone();
    void writeThePeerDoesNotTakeFails();

private:
    // A listener with the line connected to it; the accepted socket.
    struct Connected
    {
        QTcpServer server;
        TcpLine line;
        QTcpSocket *peer = nullptr;
    };
    static bool connect(Connected &connected);
};

void TestTcpLine::addressNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("reason");

    QTest::newRow("IPv4") << "tcp://127.0.0.1:1025" << true << "127.0.0.1" << 1025 << "";
    QTest::newRow("name") << "tcp://monitoring.example-site.net:65535" << true << "monitoring.example-site.net"
                          << 65535 << "";
    QTest::newRow("scheme in capitals") << "TCP://host:1" << true << "host" << 1 << "";
    QTest::newRow("IPv6") << "tcp://[::1]:1025" << true << "::1" << 1025 << "";
    QTest::newRow("IPv6 with zone") << "tcp://[fe80::1%eth0]:2000" << true << "fe80::1%eth0" << 2000 << "";
    QTest::newRow("port 0") << "tcp://host:0" << false << "" << 0 << "the port is not between 1 and 65535";
    QTest::newRow("port 65536") << "tcp://host:65536" << false << "" << 0 << "the port is not between 1 and 65535";
    QTest::newRow("port overflowing") << "tcp://host:99999999999999999999" << false << "" << 0
                                      << "the port is not between 1 and 65535";
    QTest::newRow("port not a number") << "tcp://host:10a" << false << "" << 0 << "the port is not a number";
    QTest::newRow("negative port") << "tcp://host:-1" << false << "" << 0 << "the port is not a number";
    QTest::newRow("no port") << "tcp://host" << false << "" << 0 << "the port is missing";
    QTest::newRow("empty port") << "tcp://host:" << false << "" << 0 << "the port is missing";
    QTest::newRow("IPv6 without port") << "tcp://[::1]" << false << "" << 0 << "the port is missing";
    QTest::newRow("IPv6 unbracketed") << "tcp://::1:1025" << false << "" << 0 << "the host is missing";
    QTest::newRow("IPv6 unclosed") << "tcp://[::1:1025" << false << "" << 0 << "the IPv6 address has no closing bracket";
    QTest::newRow("empty brackets") << "tcp://[]:1025" << false << "" << 0 << "the brackets hold no IPv6 address";
    QTest::newRow("no host") << "tcp://:1025" << false << "" << 0 << "the host is missing";
    QTest::newRow("nothing after scheme") << "tcp://" << false << "" << 0 << "the port is missing";
    QTest::newRow("path after port") << "tcp://host:1025/x" << false << "" << 0 << "the port is not a number";
    QTest::newRow("space in host") << "tcp://my host:1025" << false << "" << 0
                                   << "the host holds a character a host name cannot have";
    QTest::newRow("user part") << "tcp://user@host:1025" << false << "" << 0
                               << "the host holds a character a host name cannot have";
    QTest::newRow("other scheme") << "udp://host:1025" << false << "" << 0 << "the address does not start with tcp://";
    QTest::newRow("serial name") << "COM1" << false << "" << 0 << "the address does not start with tcp://";
}

void TestTcpLine::addressNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, reason);
    TcpAddress address;
    std::string why;
    QCOMPARE(TcpAddressName::parse(name.toStdString(), address, why), valid);
    QCOMPARE(QString::fromStdString(address.host), host);
    QCOMPARE(int(address.port), port);
    QCOMPARE(QString::fromStdString(why), reason);
}

void TestTcpLine::lineChosenByName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<bool>("settingsIgnored");

    QTest::newRow("COM port") << "COM1" << false << 9600 << false;
    QTest::newRow("device path") << "/dev/ttyUSB0" << false << 9600 << false;
    QTest::newRow("address, default settings") << "tcp://127.0.0.1:1025" << true << 19200 << false;
    QTest::newRow("address, other speed") << "tcp://127.0.0.1:1025" << true << 9600 << true;
    // A malformed address is still a TCP line: it fails to open with its
    // reason instead of being looked for as a device.
    QTest::newRow("malformed address") << "tcp://nowhere" << true << 19200 << false;
}

void TestTcpLine::lineChosenByName()
{
    QFETCH(QString, name);
    QFETCH(bool, tcp);
    QFETCH(int, baudRate);
    QFETCH(bool, settingsIgnored);
    const std::unique_ptr<ReceiverLine> line = ReceiverLine::forName(name.toStdString());
    QVERIFY(line);
    QCOMPARE(dynamic_cast<TcpLine *>(line.get()) != nullptr, tcp);
    QCOMPARE(line->takesLineSettings(), !tcp);
    QVERIFY(!line->isOpen());
    SVelmoraComSettings settings;
    settings.baudRate = baudRate;
    settings.dataBits = 8;
    QCOMPARE(VelmoraPortOpening::settingsIgnored(*line, settings), settingsIgnored);
}

void TestTcpLine::openFailuresGiveTheReason_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("malformed") << "tcp://127.0.0.1" << "not a valid address: the port is missing";
    QTest::newRow("not resolvable") << "tcp://no-such-host.invalid:1025" << "cannot resolve no-such-host.invalid: ";
    QTest::newRow("refused") << "tcp://127.0.0.1:%1" << "Connection refused";
}

void TestTcpLine::openFailuresGiveTheReason()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    if (name.contains(QLatin1String("%1"))) {
        // A port nothing listens on: taken and let go again.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        name = name.arg(probe.serverPort());
    }
    TcpLine line;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!line.open(name.toStdString()));
    QVERIFY(clock.elapsed() < 10000);
    QVERIFY(!line.isOpen());
    QVERIFY2(QString::fromStdString(line.lastErrorText()).startsWith(reason), line.lastErrorText().c_str());
    QVERIFY(QString::fromStdString(line.lastErrorText()).size() > reason.size() || !reason.endsWith(' '));
    // The open sequence's later steps need an open line.
    QVERIFY(!line.readLineSettings());
    QCOMPARE(line.lastError(), SerialPortError::NotOpen);
}

bool TestTcpLine::connect(Connected &connected)
{
    if (!connected.server.listen(QHostAddress::LocalHost, 0))
        return false;
    const std::string name = "tcp://127.0.0.1:" + std::to_string(connected.server.serverPort());
    if (!connected.line.open(name) || !connected.server.waitForNewConnection(5000))
        return false;
    connected.peer = connected.server.nextPendingConnection();
    return connected.peer != nullptr;
}

void TestTcpLine::lineAndAnswerOverTheConnection()
{
    Connected connected;
    QVERIFY(connect(connected));
    TcpLine &line = connected.line;
    QVERIFY(line.isOpen());
    QVERIFY(!line.open("tcp://127.0.0.1:1"));
    QVERIFY(line.isOpen());
    // The serial steps of the open sequence succeed and do nothing.
    SerialLineSettings settings;
    settings.dataBits = 9;
    QVERIFY(line.readLineSettings());
    QVERIFY(line.applyLineSettings(settings));
    QVERIFY(line.setReadTimeouts(SerialReadTimeouts{100, 300, 50}));

    const QByteArray text("5011 181234E13001005\x14");
    std::size_t written = 0;
    QVERIFY(line.write(text.constData(), std::size_t(text.size()), written));
    QCOMPARE(written, std::size_t(text.size()));
    QTRY_COMPARE(connected.peer->bytesAvailable(), qint64(text.size()));
    QCOMPARE(connected.peer->readAll(), text);

    // No answer: the whole wait, then success with nothing.
    char answer[3] = {};
    std::size_t received = 9;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(line.readFirstWithin(answer, 2, received, 200));
    QCOMPARE(received, std::size_t(0));
    QVERIFY(clock.elapsed() >= 190);

    // An answer is taken the moment it is there, with what came with it.
    connected.peer->write("\x06\x06\x06");
    QVERIFY(connected.peer->waitForBytesWritten(1000));
    clock.restart();
    QVERIFY(line.readFirstWithin(answer, 2, received, 5000));
    QVERIFY(clock.elapsed() < 4000);
    QVERIFY(received >= 1 && received <= 2);
    QCOMPARE(answer[0], '\x06');
    QCOMPARE(line.lastError(), SerialPortError::None);
    line.close();
    QVERIFY(!line.isOpen());
    line.close();
}

void TestTcpLine::staleBytesDiscardedBeforeTheNextLine()
{
    Connected connected;
    QVERIFY(connect(connected));
    // A late answer to an earlier line.
    connected.peer->write(QByteArray(3000, '\x06'));
    QVERIFY(connected.peer->waitForBytesWritten(1000));
    char byte = 0;
    std::size_t received = 0;
    QTest::qWait(100);
    QVERIFY(connected.line.discardInput());
    QVERIFY(connected.line.readFirstWithin(&byte, 1, received, 100));
    QCOMPARE(received, std::size_t(0));
}

void TestTcpLine::peerCloseMeansGone_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("closed") << false;
    QTest::newRow("reset") << true;
}

void TestTcpLine::peerCloseMeansGone()
{
    QFETCH(bool, reset);
    Connected connected;
    QVERIFY(connect(connected));
    if (reset) {
        // A close that lingers for no time resets the connection.
        const linger immediately{1, 0};
        QCOMPARE(::setsockopt(int(connected.peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &immediately,
                              sizeof immediately),
                 0);
        connected.peer->abort();
    } else {
        connected.peer->disconnectFromHost();
    }
    char answer[2] = {};
    std::size_t received = 0;
    QVERIFY(!connected.line.readFirstWithin(answer, 2, received, 5000));
    QCOMPARE(received, std::size_t(0));
    QVERIFY(connected.line.lastErrorMeansGone());
    QCOMPARE(connected.line.lastError(), SerialPortError::Disconnected);
    QVERIFY(!connected.line.lastErrorText().empty());
    // Gone stays gone until the line is closed: a write cannot succeed.
    std::size_t written = 0;
    QVERIFY(!connected.line.write("x", 1, written));
    QVERIFY(connected.line.lastErrorMeansGone());
    connected.line.close();
    QVERIFY(!connected.line.isOpen());
}

void TestTcpLine::writeThePeerDoesNotTakeFails()
{
    Connected connected;
    QVERIFY(connect(connected));
    connected.peer->setReadBufferSize(1);
    // Far more than both sides' buffers hold while nobody reads.
    const std::vector<char> bytes(64 * 1024 * 1024, '5');
    std::size_t written = 0;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!connected.line.write(bytes.data(), bytes.size(), written));
    QCOMPARE(connected.line.lastError(), SerialPortError::TimedOut);
    QVERIFY(!connected.line.lastErrorMeansGone());
    QVERIFY(written < bytes.size());
    QVERIFY(clock.elapsed() >= 1900);
    QVERIFY(clock.elapsed() < 20000);
}

QTEST_GUILESS_MAIN(TestTcpLine)
#include "tst_tcpline.moc"
