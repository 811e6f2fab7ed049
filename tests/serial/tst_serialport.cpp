#include "scriptedstation.h"
#include "serialport.h"
#include "serialtermios.h"

#include <QElapsedTimer>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <system_error>

Q_DECLARE_METATYPE(SerialPortError)

// The termios port against a real pseudo-terminal. Settings are read back
// from the station's own descriptor of the slave side, so they are what the
// line discipline really holds, not what the port object remembers. Linux
// pseudo-terminals keep eight data bits and no parity whatever is asked, so
// those two are checked on the attributes the port computes.
class TestSerialPort : public QObject
{
    Q_OBJECT

private slots:
    void devicePath_data();
    void devicePath();
    void openFailures_data();
    void openFailures();
    void openTwiceRefused();
    void deniedPortNamesItsGroup();
    void termiosFlags_data();
    void termiosFlags();
    void lineSettingsReadBack_data();
    void lineSettingsReadBack();
    void refusedSettingsChangeNothing_data();
    void refusedSettingsChangeNothing();
    void otherMembersKept();
    void bytesPassUnchanged();
    void readTimeouts_data();
    void readTimeouts();
    void vanishedPort();
    void closedPortRefusesIo();

private:
    static bool openConfigured(SerialPort &port, const ScriptedStation &station);
};

namespace {

const SerialReadTimeouts kReceiverTimeouts{100, 300, 50};

termios readBack(const ScriptedStation &station)
{
    termios attributes{};
    ::tcgetattr(station.slaveDescriptor(), &attributes);
    return attributes;
}

} // namespace

bool TestSerialPort::openConfigured(SerialPort &port, const ScriptedStation &station)
{
    return port.open(station.portName().toStdString()) && port.readLineSettings()
           && port.applyLineSettings(SerialLineSettings()) && port.setReadTimeouts(kReceiverTimeouts);
}

void TestSerialPort::devicePath_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("path");

    QTest::newRow("absolute path used as it is") << "/dev/pts/7" << "/dev/pts/7";
    QTest::newRow("USB adapter path") << "/dev/ttyUSB0" << "/dev/ttyUSB0";
    QTest::newRow("COM1 is the first port") << "COM1" << "/dev/ttyS0";
    QTest::newRow("COM12, two digits") << "COM12" << "/dev/ttyS11";
    QTest::newRow("COM255, the last Windows port") << "COM255" << "/dev/ttyS254";
    QTest::newRow("COM0 does not exist") << "COM0" << "";
    QTest::newRow("COM256 does not exist") << "COM256" << "";
    QTest::newRow("COM alone") << "COM" << "";
    QTest::newRow("leading zero") << "COM01" << "";
    QTest::newRow("lower case") << "com1" << "";
    QTest::newRow("trailing letter") << "COM1x" << "";
    QTest::newRow("sign") << "COM-1" << "";
    QTest::newRow("huge number") << "COM99999999999999999999" << "";
    QTest::newRow("relative path") << "ttyS0" << "";
    QTest::newRow("empty") << "" << "";
}

void TestSerialPort::devicePath()
{
    QFETCH(QString, name);
    QFETCH(QString, path);
    QCOMPARE(QString::fromStdString(SerialPort::devicePath(name.toStdString())), path);
}

void TestSerialPort::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<SerialPortError>("error");

    QTest::newRow("missing device") << "/dev/lumari-no-such-port" << SerialPortError::NoSuchPort;
    QTest::newRow("name that is no port") << "serial" << SerialPortError::NoSuchPort;
    QTest::newRow("empty name") << "" << SerialPortError::NoSuchPort;
    QTest::newRow("directory") << "/" << SerialPortError::Other;
}

void TestSerialPort::openFailures()
{
    QFETCH(QString, name);
    QFETCH(SerialPortError, error);

    SerialPort port;
    QVERIFY(!port.open(name.toStdString()));
    QVERIFY(!port.isOpen());
    if (error != SerialPortError::Other)
        QCOMPARE(port.lastError(), error);
    else
        QVERIFY(port.lastError() != SerialPortError::None);
}

void TestSerialPort::deniedPortNamesItsGroup()
{
    // A user outside the device's group may not open it, and the reason says
    // which group to join. Handing the device to a group and becoming another
    // user both need root.
    if (::geteuid() != 0)
        QSKIP("needs root to become a user outside the device's group");
    ScriptedStation station;
    QVERIFY(station.isValid());
    const QByteArray path = station.portName().toLocal8Bit();
    const group *dialout = ::getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : 20;
    const std::string groupName = dialout ? std::string("dialout") : std::to_string(gid);
    QCOMPARE(::chown(path.constData(), 0, gid), 0);
    QCOMPARE(::chmod(path.constData(), 0660), 0);

    int channel[2];
    QCOMPARE(::pipe(channel), 0);
    const pid_t child = ::fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        ::close(channel[0]);
        std::string text = "could not become another user";
        if (::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0) {
            SerialPort port;
            text = port.open(path.toStdString()) ? std::string("opened") : port.lastErrorText();
        }
        const ssize_t written = ::write(channel[1], text.data(), text.size());
        ::_exit(written == ssize_t(text.size()) ? 0 : 1);
    }
    ::close(channel[1]);
    std::string text;
    char buffer[256];
    ssize_t count = 0;
    while ((count = ::read(channel[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, std::size_t(count));
    ::close(channel[0]);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QCOMPARE(QString::fromStdString(text),
             QString::fromStdString(std::generic_category().message(EACCES)
                                    + "; the device belongs to group " + groupName));
}

void TestSerialPort::openTwiceRefused()
{
    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(port.open(station.portName().toStdString()));
    QVERIFY(!port.open(station.portName().toStdString()));
    QVERIFY(port.isOpen());
    port.close();
    port.close();
    QVERIFY(!port.isOpen());
    QVERIFY(port.open(station.portName().toStdString()));
}

void TestSerialPort::termiosFlags_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<uint>("speed");
    QTest::addColumn<uint>("characterSize");

    QTest::newRow("19200 8N1") << 19200 << 8 << 0 << false << uint(B19200) << uint(CS8);
    QTest::newRow("9600 7E2") << 9600 << 7 << 2 << true << uint(B9600) << uint(CS7);
    QTest::newRow("115200 8O1") << 115200 << 8 << 1 << false << uint(B115200) << uint(CS8);
    QTest::newRow("75 7O2") << 75 << 7 << 1 << true << uint(B75) << uint(CS7);
}

void TestSerialPort::termiosFlags()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(bool, twoStopBits);
    QFETCH(uint, speed);
    QFETCH(uint, characterSize);

    // Start from a cooked line with every line flag set the other way.
    termios attributes{};
    attributes.c_iflag = ICRNL | IXON | IXOFF | INLCR | ISTRIP;
    attributes.c_oflag = OPOST | ONLCR;
    attributes.c_lflag = ICANON | ECHO | ISIG | IEXTEN;
    attributes.c_cflag = CS5 | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL;
    QVERIFY(serialTermiosAttributes(SerialLineSettings{baudRate, dataBits, parity, twoStopBits},
                                    attributes));

    QCOMPARE(uint(::cfgetospeed(&attributes)), speed);
    QCOMPARE(uint(::cfgetispeed(&attributes)), speed);
    QCOMPARE(uint(attributes.c_cflag & CSIZE), characterSize);
    QCOMPARE(bool(attributes.c_cflag & PARENB), parity != 0);
    QCOMPARE(bool(attributes.c_cflag & PARODD), parity == 1);
    QCOMPARE(bool(attributes.c_cflag & CSTOPB), twoStopBits);
    QVERIFY(!(attributes.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)));
    QVERIFY(!(attributes.c_iflag & (ICRNL | INLCR | ISTRIP | IXON | IXOFF)));
    QVERIFY(!(attributes.c_oflag & OPOST));
    QVERIFY(!(attributes.c_cflag & CRTSCTS));
    QVERIFY(attributes.c_cflag & HUPCL);
    QCOMPARE(attributes.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
}

void TestSerialPort::lineSettingsReadBack_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<bool>("twoStopBits");
    QTest::addColumn<uint>("speed");

    QTest::newRow("19200, one stop bit") << 19200 << false << uint(B19200);
    QTest::newRow("9600, two stop bits") << 9600 << true << uint(B9600);
    QTest::newRow("115200, one stop bit") << 115200 << false << uint(B115200);
    QTest::newRow("75, two stop bits") << 75 << true << uint(B75);
}

void TestSerialPort::lineSettingsReadBack()
{
    QFETCH(int, baudRate);
    QFETCH(bool, twoStopBits);
    QFETCH(uint, speed);

    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(port.open(station.portName().toStdString()));
    QVERIFY(port.readLineSettings());
    QVERIFY(port.applyLineSettings(SerialLineSettings{baudRate, 8, 0, twoStopBits}));

    const termios attributes = readBack(station);
    QCOMPARE(uint(::cfgetospeed(&attributes)), speed);
    QCOMPARE(uint(::cfgetispeed(&attributes)), speed);
    QCOMPARE(uint(attributes.c_cflag & CSIZE), uint(CS8));
    QVERIFY(!(attributes.c_cflag & PARENB));
    QCOMPARE(bool(attributes.c_cflag & CSTOPB), twoStopBits);

    // Raw binary line whatever was asked for.
    QVERIFY(!(attributes.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)));
    QVERIFY(!(attributes.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP | IXON | IXOFF | PARMRK)));
    QVERIFY(!(attributes.c_oflag & OPOST));
    QVERIFY(!(attributes.c_cflag & CRTSCTS));
    QCOMPARE(attributes.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
}

void TestSerialPort::refusedSettingsChangeNothing_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");

    QTest::newRow("nine data bits") << 19200 << 9 << 0;
    QTest::newRow("baud rate without a termios speed") << 14400 << 8 << 0;
    QTest::newRow("parity code 3 (mark)") << 19200 << 8 << 3;
    QTest::newRow("negative parity") << 19200 << 8 << -1;
    // The device ignores these; the port reads back and tells.
    QTest::newRow("seven data bits the device does not keep") << 19200 << 7 << 0;
    QTest::newRow("even parity the device does not keep") << 19200 << 8 << 2;
}

void TestSerialPort::refusedSettingsChangeNothing()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);

    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(port.open(station.portName().toStdString()));
    QVERIFY(port.applyLineSettings(SerialLineSettings{9600, 8, 0, true}));
    const termios before = readBack(station);

    QVERIFY(!port.applyLineSettings(SerialLineSettings{baudRate, dataBits, parity, false}));
    QCOMPARE(port.lastError(), SerialPortError::Unsupported);
    QVERIFY(port.isOpen());
    const termios after = readBack(station);
    QCOMPARE(after.c_cflag, before.c_cflag);
    QCOMPARE(uint(::cfgetospeed(&after)), uint(::cfgetospeed(&before)));
}

void TestSerialPort::otherMembersKept()
{
    ScriptedStation station;
    QVERIFY(station.isValid());
    termios attributes = readBack(station);
    attributes.c_cflag |= HUPCL;
    attributes.c_cc[VKILL] = 0x7f;
    QCOMPARE(::tcsetattr(station.slaveDescriptor(), TCSANOW, &attributes), 0);

    SerialPort port;
    QVERIFY(openConfigured(port, station));
    const termios after = readBack(station);
    QVERIFY(after.c_cflag & HUPCL);
    QCOMPARE(int(after.c_cc[VKILL]), 0x7f);
}

void TestSerialPort::bytesPassUnchanged()
{
    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(openConfigured(port, station));

    // Carriage return, line feed, the flow-control and interrupt characters
    // and a byte above 0x7f would each be changed or eaten by a cooked line.
    const QByteArray outgoing("\r\n\x11\x13\x03\xff\x14", 7);
    std::size_t written = 0;
    QVERIFY(port.write(outgoing.constData(), std::size_t(outgoing.size()), written));
    QCOMPARE(written, std::size_t(outgoing.size()));
    QTRY_COMPARE(station.receivedBytes(), outgoing);

    const QByteArray incoming("\r\x03\x11", 3);
    QVERIFY(station.send(incoming));
    char buffer[3] = {};
    std::size_t received = 0;
    QVERIFY(port.read(buffer, sizeof buffer, received));
    QCOMPARE(QByteArray(buffer, int(received)), incoming);
    // Nothing echoed back to the station.
    QTest::qWait(50);
    QCOMPARE(station.receivedBytes(), outgoing);
}

void TestSerialPort::readTimeouts_data()
{
    QTest::addColumn<int>("asked");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("answerAfterMs");
    QTest::addColumn<int>("atLeastMs");
    QTest::addColumn<int>("atMostMs");
    // 0: a read under the port's time-outs; otherwise a first-byte read
    // given this long.
    QTest::addColumn<int>("firstByteWithinMs");

    // 300 ms per byte asked plus 50: 650 ms for two bytes, 950 for three.
    QTest::newRow("silent, two bytes asked") << 2 << QByteArray() << 0 << 640 << 3000 << 0;
    QTest::newRow("silent, three bytes asked") << 3 << QByteArray() << 0 << 940 << 3000 << 0;
    // One byte ends the read 100 ms after it arrives.
    QTest::newRow("one byte of two") << 2 << QByteArray("\x06") << 0 << 95 << 600 << 0;
    QTest::newRow("one byte arriving late but in time") << 2 << QByteArray("\x06") << 400 << 490 << 2000 << 0;
    QTest::newRow("all bytes asked for") << 2 << QByteArray("\x06\x06") << 0 << 0 << 600 << 0;
    QTest::newRow("more bytes than asked") << 2 << QByteArray("\x15\x06\x06") << 0 << 0 << 600 << 0;

    // A first-byte read waits out its time only when nothing comes, and
    // ignores the port's time-outs.
    QTest::newRow("first byte: silent") << 2 << QByteArray() << 0 << 390 << 3000 << 400;
    QTest::newRow("first byte: one byte of two ends it") << 2 << QByteArray("\x06") << 0 << 0 << 1500 << 5000;
    QTest::newRow("first byte: late but in time") << 2 << QByteArray("\x06") << 300 << 290 << 1800 << 5000;
    QTest::newRow("first byte: both already there") << 2 << QByteArray("\x06\x06") << 0 << 0 << 1500 << 5000;
    QTest::newRow("first byte: more than asked") << 2 << QByteArray("\x15\x06\x06") << 0 << 0 << 1500 << 5000;
}

void TestSerialPort::readTimeouts()
{
    QFETCH(int, asked);
    QFETCH(QByteArray, answer);
    QFETCH(int, answerAfterMs);
    QFETCH(int, atLeastMs);
    QFETCH(int, atMostMs);
    QFETCH(int, firstByteWithinMs);

    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(openConfigured(port, station));

    QElapsedTimer clock;
    clock.start();
    std::thread answering;
    if (!answer.isEmpty()) {
        answering = std::thread([&station, answer, answerAfterMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(answerAfterMs));
            station.send(answer);
        });
    }
    char buffer[3] = {};
    std::size_t received = 0;
    const bool succeeded =
        firstByteWithinMs == 0
            ? port.read(buffer, std::size_t(asked), received)
            : port.readFirstWithin(buffer, std::size_t(asked), received, unsigned(firstByteWithinMs));
    const qint64 elapsed = clock.elapsed();
    if (answering.joinable())
        answering.join();

    QVERIFY(succeeded);
    QCOMPARE(QByteArray(buffer, int(received)), answer.left(asked));
    QVERIFY2(elapsed >= atLeastMs, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed <= atMostMs, qPrintable(QString::number(elapsed)));
}

void TestSerialPort::vanishedPort()
{
    ScriptedStation station;
    QVERIFY(station.isValid());
    SerialPort port;
    QVERIFY(openConfigured(port, station));
    station.hangUp();

    char buffer[2] = {};
    std::size_t received = 0;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!port.read(buffer, sizeof buffer, received));
    QCOMPARE(port.lastError(), SerialPortError::Disconnected);
    QVERIFY(clock.elapsed() < 3000);

    const char line[] = "1011           @    \x14";
    std::size_t written = 0;
    QVERIFY(!port.write(line, sizeof line - 1, written));
    QCOMPARE(port.lastError(), SerialPortError::Disconnected);
    QVERIFY(port.isOpen());
    port.close();
    QVERIFY(!port.isOpen());
}

void TestSerialPort::closedPortRefusesIo()
{
    SerialPort port;
    char buffer[2] = {};
    std::size_t count = 7;
    QVERIFY(!port.read(buffer, sizeof buffer, count));
    QCOMPARE(count, std::size_t(0));
    count = 7;
    QVERIFY(!port.readFirstWithin(buffer, sizeof buffer, count, 100));
    QCOMPARE(count, std::size_t(0));
    QCOMPARE(port.lastError(), SerialPortError::NotOpen);
    QVERIFY(!port.write(buffer, sizeof buffer, count));
    QCOMPARE(port.lastError(), SerialPortError::NotOpen);
    QVERIFY(!port.readLineSettings());
    QVERIFY(!port.applyLineSettings(SerialLineSettings()));
    QVERIFY(!port.setReadTimeouts(kReceiverTimeouts));
}

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
