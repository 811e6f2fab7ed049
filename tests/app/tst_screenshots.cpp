// Starts the real program on an X display (the test runs under xvfb-run),
// connects one device, opens the settings panel with a real mouse click and
// saves both windows as PNG files in the build tree (LUMARI_SCREENSHOT_DIR);
// then, with events held and one set aside, the Events window, and the main
// window with its alert banner while nothing answers.
// docs/ holds copies of the current ones.

#include "apptestsupport.h"
#include "ptystation.h"
#include "testdevice.h"
#include "velmoraconf.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const int kWaitMs = 20000;

bool xdotool(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(kWaitMs) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

// The first visible window whose title matches the pattern.
WId findWindow(const QString &titlePattern)
{
    QString found;
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), titlePattern},
                 &found))
        return 0;
    return WId(found.section(QLatin1Char('\n'), 0, 0).toULongLong());
}

int distinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

// The program copied into a temporary directory with its translations and a
// configuration for the station's port and a free TCP port.
bool prepareProgram(const QTemporaryDir &appDir, const PtyStation &comPort, SVelmoraConf *conf, int keepAlive)
{
    const QString program = appDir.filePath(QStringLiteral("Lumari"));
    if (!QFile::copy(QStringLiteral(LUMARI_BINARY), program)
        || !QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        || !QDir().mkpath(appDir.filePath(QStringLiteral("translate")))) {
        return false;
    }
    const QDir translations(QStringLiteral(LUMARI_TRANSLATE_DIR));
    for (const QString &file : translations.entryList({QStringLiteral("*.qm")})) {
        if (!QFile::copy(translations.filePath(file), appDir.filePath(QStringLiteral("translate/")) + file))
            return false;
    }
    VelmoraCommon_SetDefaultConf(conf);
    conf->tcpPort = unusedTcpPort();
    conf->comName = comPort.slavePath();
    conf->keepAlive = keepAlive;
    return QDir().mkpath(appDir.filePath(QStringLiteral("conf")))
        && VelmoraCommon_WriteConf(conf, appDir.filePath(QStringLiteral("conf/Lumari.conf"))) == 1;
}

} // namespace

class TestScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void mainWindowAndSettingsPanel()
    {
        // QSKIP with one argument trips -Wpedantic, hence the function.
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QTest::qSkip("needs an X display: run under xvfb-run with QT_QPA_PLATFORM=xcb", __FILE__, __LINE__);
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QTest::qSkip("needs xdotool", __FILE__, __LINE__);
            return;
        }

        QTemporaryDir appDir;
        QVERIFY(appDir.isValid());
        PtyStation comPort;
        QVERIFY(comPort.isOpen());
        SVelmoraConf conf;
        QVERIFY(prepareProgram(appDir, comPort, &conf, 60));
        const QString program = appDir.filePath(QStringLiteral("Lumari"));

        QProcess lumari;
        lumari.setProcessChannelMode(QProcess::ForwardedChannels);
        lumari.start(program, QStringList());
        QVERIFY(lumari.waitForStarted(kWaitMs));

        const WId mainWindow = findWindow(QStringLiteral("^Lumari$"));
        QVERIFY(mainWindow);
        QTcpSocket device;
        device.connectToHost(QHostAddress::LocalHost, quint16(conf.tcpPort));
        QVERIFY(device.waitForConnected(kWaitMs));
        // Two ticks of the status bar, and the worker lines in the pane.
        QTest::qWait(2500);

        QScreen *screen = QGuiApplication::primaryScreen();
        const QImage mainShot = screen->grabWindow(mainWindow).toImage();
        QCOMPARE(mainShot.size(), QSize(700, 500));
        QVERIFY(distinctColours(mainShot) > 20);

        // The Settings action is the first button of the toolbar, top left.
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(mainWindow),
                         QStringLiteral("24"), QStringLiteral("24"), QStringLiteral("click"), QStringLiteral("1")}));
        const WId panel = findWindow(QStringLiteral("^Настройки$"));
        QVERIFY(panel);
        QTest::qWait(500);
        const QImage panelShot = screen->grabWindow(panel).toImage();
        QCOMPARE(panelShot.size(), QSize(820, 600));
        QVERIFY(distinctColours(panelShot) > 20);

        const QDir output(QStringLiteral(LUMARI_SCREENSHOT_DIR));
        QVERIFY(QDir().mkpath(output.path()));
        QVERIFY(mainShot.save(output.filePath(QStringLiteral("mainwindow.png"))));
        QVERIFY(panelShot.save(output.filePath(QStringLiteral("settings.png"))));

        lumari.kill();
        lumari.waitForFinished(kWaitMs);
    }

    void eventsWindowWithHeldAndSetAsideEvents()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QTest::qSkip("needs an X display: run under xvfb-run with QT_QPA_PLATFORM=xcb", __FILE__, __LINE__);
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QTest::qSkip("needs xdotool", __FILE__, __LINE__);
            return;
        }

        // First the station refuses one alarm and takes the rest, so that
        // the alarm is set aside; then it falls silent and new events wait.
        QTemporaryDir appDir;
        QVERIFY(appDir.isValid());
        PtyStation comPort;
        QVERIFY(comPort.isOpen());
        bool silent = false;
        int refusals = 0;
        int silentLines = 0;
        TestDevice::Event refused;
        refused.zone = 0x0017;
        const QByteArray refusedLine = TestDevice::expectedLine(refused);
        comPort.setAnswerPolicy([&](const QByteArray &line, int) {
            if (silent) {
                ++silentLines;
                return QByteArray();
            }
            if (line != refusedLine)
                return PtyStation::ack();
            ++refusals;
            return PtyStation::nak();
        });
        SVelmoraConf conf;
        QVERIFY(prepareProgram(appDir, comPort, &conf, 1));
        QProcess lumari;
        lumari.setProcessChannelMode(QProcess::ForwardedChannels);
        lumari.start(appDir.filePath(QStringLiteral("Lumari")), QStringList());
        QVERIFY(lumari.waitForStarted(kWaitMs));
        const WId mainWindow = findWindow(QStringLiteral("^Lumari$"));
        QVERIFY(mainWindow);

        TestDevice device(QByteArray::fromHex("0A1B2C"));
        QVERIFY(device.connectTo(quint16(conf.tcpPort)));
        QVERIFY(!device.readMacRequest().isEmpty());
        TestDevice::Event delivered;
        delivered.zone = 0x0018;
        for (const TestDevice::Event &event : {refused, delivered}) {
            QVERIFY(device.sendEvent(event));
            QVERIFY(!device.readFrame().isEmpty());
        }
        // Refused twenty times, then set aside when the next one is taken.
        QTRY_VERIFY_WITH_TIMEOUT(refusals >= 20 && comPort.acknowledgedEvents().size() == 1, 60000);
        QTest::qWait(500);

        silent = true;
        TestDevice other(QByteArray::fromHex("3D4E5F"));
        QVERIFY(other.connectTo(quint16(conf.tcpPort)));
        QVERIFY(!other.readMacRequest().isEmpty());
        for (const quint16 zone : {quint16(0x0003), quint16(0x0004)}) {
            TestDevice::Event event;
            event.account = 0x004321;
            event.event = 0x1110;
            event.zone = zone;
            QVERIFY(other.sendEvent(event));
            QVERIFY(!other.readFrame().isEmpty());
        }
        // Both tried and left unanswered, each three times.
        QTRY_VERIFY_WITH_TIMEOUT(silentLines >= 6, 60000);

        // Nothing answers: the red banner is over the log.
        QTest::qWait(2500);
        QScreen *screen = QGuiApplication::primaryScreen();
        const QImage alertShot = screen->grabWindow(mainWindow).toImage();
        int red = 0;
        for (int y = 0; y < alertShot.height(); y += 2) {
            for (int x = 0; x < alertShot.width(); x += 2)
                red += alertShot.pixel(x, y) == qRgb(0xc8, 0x10, 0x2e) ? 1 : 0;
        }
        QVERIFY2(red > 1000, qPrintable(QString::number(red)));

        // The Events action is the toolbar's second button.
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(mainWindow),
                         QStringLiteral("62"), QStringLiteral("24"), QStringLiteral("click"), QStringLiteral("1")}));
        const WId eventsWindow = findWindow(QStringLiteral("^События$"));
        QVERIFY(eventsWindow);
        QTest::qWait(1500);
        const QImage eventsShot = screen->grabWindow(eventsWindow).toImage();
        QVERIFY(eventsShot.width() > 600);
        QVERIFY(distinctColours(eventsShot) > 20);
        const QImage mainShot = screen->grabWindow(mainWindow).toImage();

        const QDir output(QStringLiteral(LUMARI_SCREENSHOT_DIR));
        QVERIFY(QDir().mkpath(output.path()));
        QVERIFY(eventsShot.save(output.filePath(QStringLiteral("events.png"))));
        QVERIFY(mainShot.save(output.filePath(QStringLiteral("mainwindow-held.png"))));
        QVERIFY(alertShot.save(output.filePath(QStringLiteral("alert.png"))));

        lumari.kill();
        lumari.waitForFinished(kWaitMs);
    }

    // Three devices, one of which has left again, a refused one and a listed
    // one never heard, in the Devices window.
    void devicesWindow()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) {
            QTest::qSkip("needs an X display: run under xvfb-run with QT_QPA_PLATFORM=xcb", __FILE__, __LINE__);
            return;
        }
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty()) {
            QTest::qSkip("needs xdotool", __FILE__, __LINE__);
            return;
        }

        QTemporaryDir appDir;
        QVERIFY(appDir.isValid());
        PtyStation comPort;
        QVERIFY(comPort.isOpen());
        SVelmoraConf conf;
        QVERIFY(prepareProgram(appDir, comPort, &conf, 60));
        conf.supervisionS = 150;
        QVERIFY(VelmoraCommon_WriteConf(&conf, appDir.filePath(QStringLiteral("conf/Lumari.conf"))) == 1);
        QFile list(appDir.filePath(QStringLiteral("conf/devices.csv")));
        QVERIFY(list.open(QIODevice::WriteOnly));
        list.write("device_id;description;supervision_s;mac\n"
                   "123456;\xD0\x9C\xD0\xB0\xD0\xB3\xD0\xB0\xD0\xB7\xD0\xB8\xD0\xBD;;\n"
                   "0A0B0C;\xD0\x91\xD0\xB0\xD0\xBD\xD0\xBA;300;\n"
                   "0D0E0F;\xD0\xA1\xD0\xBA\xD0\xBB\xD0\xB0\xD0\xB4;;1111111111111111\n"
                   "0C0C0C;\xD0\x90\xD0\xBF\xD1\x82\xD0\xB5\xD0\xBA\xD0\xB0;0;\n");
        list.close();
        const QString program = appDir.filePath(QStringLiteral("Lumari"));

        QProcess lumari;
        lumari.setProcessChannelMode(QProcess::ForwardedChannels);
        lumari.start(program, QStringList());
        QVERIFY(lumari.waitForStarted(kWaitMs));
        const WId mainWindow = findWindow(QStringLiteral("^Lumari$"));
        QVERIFY(mainWindow);

        TestDevice first(QByteArray::fromHex("123456"));
        TestDevice second(QByteArray::fromHex("0A0B0C"));
        TestDevice swapped(QByteArray::fromHex("0D0E0F"));
        auto leaving = std::make_unique<TestDevice>(QByteArray::fromHex("777001"));
        for (TestDevice *device : {&first, &second, &swapped, leaving.get()}) {
            QTRY_VERIFY_WITH_TIMEOUT(device->connectTo(quint16(conf.tcpPort)), kWaitMs);
            QCOMPARE(device->readMacRequest(), TestDevice::macRequest());
        }
        QVERIFY(first.sendMac(QByteArray::fromHex("0102030405060708")));
        QCOMPARE(first.readFrame(), first.expectedAck());
        // Its row pins another MAC: refused, and its connection closed.
        QVERIFY(swapped.sendMac(QByteArray::fromHex("0102030405060709")));
        QCOMPARE(swapped.readFrame(2000), QByteArray());
        for (TestDevice *device : {&first, leaving.get()}) {
            QVERIFY(device->sendRaw(TestDevice::buildFrame(0x0003, device == &first ? QByteArray::fromHex("123456")
                                                                                    : QByteArray::fromHex("777001"),
                                                           QByteArray())));
            QCOMPARE(device->readFrame(), device->expectedAck());
        }
        QVERIFY(second.sendEvent(TestDevice::Event()));
        QCOMPARE(second.readFrame(), second.expectedAck());
        // The connection ends; the device is listed as gone.
        leaving.reset();

        // The Devices action is the third button of the toolbar, after Settings and Events.
        QVERIFY(xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(mainWindow),
                         QStringLiteral("96"), QStringLiteral("24"), QStringLiteral("click"), QStringLiteral("1")}));
        const WId devices = findWindow(QStringLiteral("^Устройства$"));
        QVERIFY(devices);
        // Two refreshes of the table.
        QTest::qWait(2500);
        const QImage shot = QGuiApplication::primaryScreen()->grabWindow(devices).toImage();
        QVERIFY(distinctColours(shot) > 20);

        const QDir output(QStringLiteral(LUMARI_SCREENSHOT_DIR));
        QVERIFY(QDir().mkpath(output.path()));
        QVERIFY(shot.save(output.filePath(QStringLiteral("devices.png"))));

        lumari.kill();
        lumari.waitForFinished(kWaitMs);
    }

};

QTEST_MAIN(TestScreenshots)
#include "tst_screenshots.moc"
