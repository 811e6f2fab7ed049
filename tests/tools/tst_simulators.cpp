// Runs the two simulator programs as an installer or a test of the real
// converter would: the station on its own pseudo-terminal, written by a
// stand-in converter here; the device against a stand-in TCP converter that
// answers from the frames published for the protocol.
#include "framereader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kProgramTimeoutMs = 20000;

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(QByteArray(hex));
}

const QByteArray kMacRequest = bytes("4DD4000010000000000101FFFFFF000000000099A84C0D0A");
const QByteArray kAck123456 = bytes("4DD40000100000800001011234560000000000012F4C0D0A");
const QByteArray kMacReply123456 =
    bytes("4DD4000018 00000000 0101 123456 00000000 0090 1122334455667788 AA 4C0D0A");
const QByteArray kWorkedExample = bytes("4DD400001A0000000001011234560000000000040018001234113001000561" "4C0D0A");
const QStringList kWorkedExampleOptions{"--id",    "123456", "--mac",   "1122334455667788", "--account", "001234",
                                        "--event", "1130",   "--group", "01",               "--zone",    "005",
                                        "--message-type", "18", "--packet-type", "0004", "--json"};

// The ACK the converter owes device I0 I1 I2: checksum 0x93 + I0 + I1 + I2.
QByteArray ackFor(const QByteArray &id)
{
    QByteArray ack = kAck123456;
    ack.replace(11, 3, id);
    ack[20] = char(0x93 + quint8(id[0]) + quint8(id[1]) + quint8(id[2]));
    return ack;
}

QList<QJsonObject> jsonLines(const QByteArray &output)
{
    QList<QJsonObject> objects;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.trimmed().isEmpty())
            objects.append(QJsonDocument::fromJson(line).object());
    }
    return objects;
}

// Stand-in for the converter's TCP side.
class StubConverter : public QObject
{
public:
    enum class Mode { Answer, WrongMacRequest, WrongAckChecksum, NoEventAck, CloseAfterMacReply };

    explicit StubConverter(Mode mode) : mode(mode)
    {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                QByteArray request = kMacRequest;
                if (this->mode == Mode::WrongMacRequest)
                    request[20] = char(request[20] + 1);
                socket->write(request);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }

    quint16 port() const { return server.serverPort(); }

    QList<QByteArray> frames;
    QSet<QByteArray> ids;

private:
    void read(QTcpSocket *socket)
    {
        FrameReader &reader = readers[socket];
        reader.append(socket->readAll());
        QByteArray frame;
        while (reader.take(&frame) == FrameReader::Result::Frame) {
            frames.append(frame);
            const bool macReply = frame.size() == kMacReply123456.size();
            if (macReply)
                macs[socket] = frame.mid(20, 8);
            // The ID is payload bytes 6 to 8, XORed with MAC bytes 6, 7 and 0
            // when the frame is encrypted.
            QByteArray id = frame.mid(11, 3);
            if (frame.at(2) == 0x01) {
                for (int i = 0; i < 3; ++i)
                    id[i] = char(id[i] ^ macs.value(socket, QByteArray(8, '\0'))[(6 + i) % 8]);
            }
            ids.insert(id);
            if (mode == Mode::CloseAfterMacReply) {
                socket->disconnectFromHost();
                return;
            }
            if (mode == Mode::NoEventAck && !macReply)
                continue;
            QByteArray ack = ackFor(id);
            if (mode == Mode::WrongAckChecksum && !macReply)
                ack[20] = char(ack[20] ^ 0x01);
            socket->write(ack);
        }
    }

    Mode mode;
    QTcpServer server;
    QHash<QTcpSocket *, FrameReader> readers;
    QHash<QTcpSocket *, QByteArray> macs;
};

} // namespace

Q_DECLARE_METATYPE(StubConverter::Mode)

class TestSimulators : public QObject
{
    Q_OBJECT

private slots:
    void deviceAgainstConverter_data();
    void deviceAgainstConverter();
    void deviceEncryptsWithItsMac();
    void manyDevicesEachWithItsId();
    void deviceWithoutConverter();
    void stationAnswers_data();
    void stationAnswers();
    void stationSummaryOnTermination();
    void stationTimeLimit();
    void stationCannotOpenDevice();

private:
    static QByteArray runDevice(const QStringList &arguments, int *exitCode);
    static bool openSlave(const QString &path, int *fd);
    static QByteArray readAnswer(int fd, int waitMs);
    static QJsonObject nextJsonLine(QProcess &station);
    static QString waitForPtyPath(QProcess &station);
};

QByteArray TestSimulators::runDevice(const QStringList &arguments, int *exitCode)
{
    QProcess device;
    device.start(QStringLiteral(LUMARI_DEVICE_PATH), arguments);
    // The stub converter lives in this thread, so the event loop must run.
    QElapsedTimer timer;
    timer.start();
    while (device.state() != QProcess::NotRunning && timer.elapsed() < kProgramTimeoutMs)
        QTest::qWait(10);
    if (device.state() != QProcess::NotRunning) {
        device.kill();
        device.waitForFinished();
        *exitCode = -1;
    } else {
        *exitCode = device.exitStatus() == QProcess::NormalExit ? device.exitCode() : -2;
    }
    return device.readAllStandardOutput();
}

void TestSimulators::deviceAgainstConverter_data()
{
    QTest::addColumn<StubConverter::Mode>("mode");
    QTest::addColumn<int>("expectedExit");
    QTest::addColumn<int>("acknowledged");
    QTest::newRow("every ACK right") << StubConverter::Mode::Answer << 0 << 2;
    QTest::newRow("MAC request with a wrong checksum") << StubConverter::Mode::WrongMacRequest << 3 << 0;
    QTest::newRow("event ACK with a wrong checksum") << StubConverter::Mode::WrongAckChecksum << 5 << 0;
    QTest::newRow("event ACK missing") << StubConverter::Mode::NoEventAck << 4 << 0;
    QTest::newRow("converter hangs up") << StubConverter::Mode::CloseAfterMacReply << 2 << 0;
}

void TestSimulators::deviceAgainstConverter()
{
    QFETCH(StubConverter::Mode, mode);
    QFETCH(int, expectedExit);
    QFETCH(int, acknowledged);
    StubConverter converter(mode);
    int exitCode = 0;
    const QByteArray output = runDevice(QStringList(kWorkedExampleOptions)
                                            << "--port" << QString::number(converter.port()) << "--count" << "1"
                                            << "--tests" << "1" << "--timeout" << "2000",
                                        &exitCode);
    QCOMPARE(exitCode, expectedExit);
    const QList<QJsonObject> lines = jsonLines(output);
    QVERIFY(!lines.isEmpty());
    const QJsonObject summary = lines.last();
    QCOMPARE(summary.value("step").toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value("exit").toInt(), expectedExit);
    QCOMPARE(summary.value("acknowledged").toInt(), acknowledged);
    if (mode == StubConverter::Mode::WrongMacRequest) {
        QVERIFY(converter.frames.isEmpty());
        return;
    }
    QVERIFY(!converter.frames.isEmpty());
    QCOMPARE(converter.frames.first().toHex(' '), kMacReply123456.toHex(' '));
    if (mode == StubConverter::Mode::Answer) {
        QCOMPARE(converter.frames.size(), 3);
        QCOMPARE(converter.frames.at(1).toHex(' '), kWorkedExample.toHex(' '));
        // The periodic test is the same frame with packet type 0003.
        QByteArray test = kWorkedExample;
        test[19] = 0x03;
        test[30] = char(0x61 - 1);
        QCOMPARE(converter.frames.at(2).toHex(' '), test.toHex(' '));
    }
}

void TestSimulators::deviceEncryptsWithItsMac()
{
    StubConverter converter(StubConverter::Mode::Answer);
    int exitCode = -1;
    runDevice(QStringList(kWorkedExampleOptions) << "--port" << QString::number(converter.port()) << "--encrypt",
              &exitCode);
    QCOMPARE(exitCode, 0);
    QCOMPARE(converter.frames.size(), 2);
    QCOMPARE(converter.frames.first(), kMacReply123456);
    QByteArray expected = kWorkedExample;
    expected[2] = 0x01;
    const QByteArray mac = bytes("1122334455667788");
    for (int i = 0; i < 26; ++i)
        expected[5 + i] = char(expected[5 + i] ^ mac[i % 8]);
    QCOMPARE(converter.frames.at(1).toHex(' '), expected.toHex(' '));
    QCOMPARE(converter.ids, QSet<QByteArray>{bytes("123456")});
}

void TestSimulators::manyDevicesEachWithItsId()
{
    StubConverter converter(StubConverter::Mode::Answer);
    int exitCode = -1;
    const QByteArray output = runDevice({"--port", QString::number(converter.port()), "--id", "0000FE",
                                         "--connections", "4", "--count", "3", "--rate", "200", "--json"},
                                        &exitCode);
    QCOMPARE(exitCode, 0);
    // IDs count on across the byte boundary: 0000FE, 0000FF, 000100, 000101.
    const QSet<QByteArray> ids{bytes("0000FE"), bytes("0000FF"), bytes("000100"), bytes("000101")};
    QCOMPARE(converter.ids, ids);
    QCOMPARE(converter.frames.size(), 4 * (1 + 3));
    const QJsonObject summary = jsonLines(output).last();
    QCOMPARE(summary.value("sent").toInt(), 12);
    QCOMPARE(summary.value("acknowledged").toInt(), 12);
    QCOMPARE(summary.value("failed").toInt(), 0);
}

void TestSimulators::deviceWithoutConverter()
{
    QTcpServer placeholder;
    QVERIFY(placeholder.listen(QHostAddress::LocalHost));
    const QString port = QString::number(placeholder.serverPort());
    placeholder.close();
    int exitCode = -1;
    runDevice({"--port", port, "--timeout", "2000"}, &exitCode);
    QCOMPARE(exitCode, 2);
    runDevice({"--port", port, "--mac", "12345"}, &exitCode);
    QCOMPARE(exitCode, 1);
}

bool TestSimulators::openSlave(const QString &path, int *fd)
{
    *fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
    if (*fd < 0)
        return false;
    termios raw{};
    tcgetattr(*fd, &raw);
    cfmakeraw(&raw);
    return tcsetattr(*fd, TCSANOW, &raw) == 0;
}

QByteArray TestSimulators::readAnswer(int fd, int waitMs)
{
    pollfd poller{fd, POLLIN, 0};
    if (::poll(&poller, 1, waitMs) <= 0)
        return QByteArray();
    char buffer[8];
    const ssize_t count = ::read(fd, buffer, sizeof buffer);
    return count > 0 ? QByteArray(buffer, int(count)) : QByteArray();
}

QJsonObject TestSimulators::nextJsonLine(QProcess &station)
{
    while (!station.canReadLine()) {
        if (!station.waitForReadyRead(kProgramTimeoutMs))
            return QJsonObject();
    }
    return QJsonDocument::fromJson(station.readLine()).object();
}

QString TestSimulators::waitForPtyPath(QProcess &station)
{
    const QJsonObject first = nextJsonLine(station);
    return first.value("type").toString() == QLatin1String("pty") ? first.value("path").toString() : QString();
}

void TestSimulators::stationAnswers_data()
{
    QTest::addColumn<QStringList>("policy");
    QTest::addColumn<QByteArray>("answers");  // one byte per line, '-' for none
    const QByteArray ack(1, 0x06);
    const QByteArray nak(1, 0x15);
    QTest::newRow("always ACK") << QStringList{} << QByteArray("\x06\x06\x06\x06");
    QTest::newRow("NAK the first two") << QStringList{"--nak-first", "2"} << QByteArray("\x15\x15\x06\x06");
    QTest::newRow("silent for the first line") << QStringList{"--silent-first", "1"} << QByteArray("-\x06\x06\x06");
    QTest::newRow("silent first wins over NAK first") << QStringList{"--silent-first", "1", "--nak-first", "2"}
                                                      << QByteArray("-\x15\x06\x06");
    QTest::newRow("silent for good") << QStringList{"--answer", "none"} << QByteArray("----");
    QTest::newRow("silent for a while") << QStringList{"--silent-for", "3600"} << QByteArray("----");
    QTest::newRow("always NAK") << QStringList{"--answer", "nak"} << QByteArray("\x15\x15\x15\x15");
}

void TestSimulators::stationAnswers()
{
    QFETCH(QStringList, policy);
    QFETCH(QByteArray, answers);
    QProcess station;
    station.start(QStringLiteral(LUMARI_STATION_PATH),
                  QStringList{"--json", "--lines", "4", "--seconds", "30"} + policy);
    const QString path = waitForPtyPath(station);
    QVERIFY(path.startsWith(QLatin1String("/dev/")));
    int fd = -1;
    QVERIFY(openSlave(path, &fd));
    // An event line in two writes, a keepalive, an event with the time, and
    // a line the station cannot read.
    const QList<QByteArray> writes{"5011 1812AB", "E40101003\x14", "1011           @    \x14",
                                   "5011 181234R1300100514:05:09-06/12\x14", "hello\x14"};
    const QList<int> lineEnds{1, 2, 3, 4};
    QByteArray received;
    int line = 0;
    for (int i = 0; i < writes.size(); ++i) {
        QCOMPARE(::write(fd, writes[i].constData(), size_t(writes[i].size())), ssize_t(writes[i].size()));
        if (!lineEnds.contains(i))
            continue;
        // A missing answer can only be waited for; the converter itself waits
        // no longer than about a second.
        const QByteArray answer = readAnswer(fd, answers[line] == '-' ? 300 : 5000);
        received.append(answer.isEmpty() ? QByteArray("-") : answer);
        ++line;
    }
    QVERIFY(station.waitForFinished(kProgramTimeoutMs));
    ::close(fd);
    QCOMPARE(received.toHex(' '), answers.toHex(' '));
    QCOMPARE(station.exitCode(), 0);

    const QList<QJsonObject> lines = jsonLines(station.readAllStandardOutput());
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines[0].value("kind").toString(), QStringLiteral("event"));
    QCOMPARE(lines[0].value("account").toString(), QStringLiteral("12AB"));
    QCOMPARE(lines[0].value("qualifier").toString(), QStringLiteral("E"));
    QCOMPARE(lines[0].value("event").toString(), QStringLiteral("401"));
    QCOMPARE(lines[0].value("rawHex").toString(), QStringLiteral("35303131203138313241424534303130313030331" "4"));
    QCOMPARE(lines[1].value("kind").toString(), QStringLiteral("keepalive"));
    QCOMPARE(lines[2].value("qualifier").toString(), QStringLiteral("R"));
    QCOMPARE(lines[2].value("time").toString(), QStringLiteral("14:05:09-06/12"));
    QCOMPARE(lines[3].value("kind").toString(), QStringLiteral("unrecognised"));
    const QJsonObject summary = lines[4];
    QCOMPARE(summary.value("type").toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value("events").toInt(), 2);
    QCOMPARE(summary.value("keepalives").toInt(), 1);
    QCOMPARE(summary.value("unrecognised").toInt(), 1);
    QCOMPARE(summary.value("acks").toInt(), answers.count('\x06'));
    QCOMPARE(summary.value("naks").toInt(), answers.count('\x15'));
    QCOMPARE(summary.value("unanswered").toInt(), answers.count('-'));
}

void TestSimulators::stationSummaryOnTermination()
{
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString link = directory.filePath(QStringLiteral("ttyStation"));
    QProcess station;
    station.start(QStringLiteral(LUMARI_STATION_PATH), {"--json", "--strict", "--link", link});
    const QString path = waitForPtyPath(station);
    QVERIFY(!path.isEmpty());
    QCOMPARE(nextJsonLine(station).value("path").toString(), link);
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);
    int fd = -1;
    QVERIFY(openSlave(link, &fd));
    const QByteArray keepalive("1011           @    \x14");
    QCOMPARE(::write(fd, keepalive.constData(), size_t(keepalive.size())), ssize_t(keepalive.size()));
    QCOMPARE(readAnswer(fd, 5000), QByteArray(1, 0x06));
    ::kill(pid_t(station.processId()), SIGTERM);
    QVERIFY(station.waitForFinished(kProgramTimeoutMs));
    ::close(fd);
    QCOMPARE(station.exitStatus(), QProcess::NormalExit);
    QCOMPARE(station.exitCode(), 0);
    const QJsonObject summary = jsonLines(station.readAllStandardOutput()).last();
    QCOMPARE(summary.value("type").toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value("keepalives").toInt(), 1);
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestSimulators::stationTimeLimit()
{
    QProcess station;
    station.start(QStringLiteral(LUMARI_STATION_PATH), {"--json", "--lines", "2", "--seconds", "1"});
    QVERIFY(station.waitForFinished(kProgramTimeoutMs));
    QCOMPARE(station.exitCode(), 3);
    QCOMPARE(jsonLines(station.readAllStandardOutput()).last().value("lines").toInt(), 0);
}

void TestSimulators::stationCannotOpenDevice()
{
    QProcess station;
    station.start(QStringLiteral(LUMARI_STATION_PATH), {"--device", "/nonexistent/ttyS99"});
    QVERIFY(station.waitForFinished(kProgramTimeoutMs));
    QCOMPARE(station.exitCode(), 2);
    QVERIFY(station.readAllStandardError().contains("/nonexistent/ttyS99"));
}

QTEST_GUILESS_MAIN(TestSimulators)
#include "tst_simulators.moc"
