#include "lumariinstance.h"
#include "ptystation.h"
#include "testdevice.h"

#include <QtTest>

#include <QElapsedTimer>
#include <QFile>

#include <csignal>

namespace {

// Generous: the suite also runs under the sanitizers on two cores.
constexpr int kStartMs = 30000;
constexpr int kExitMs = 15000;
constexpr int kDeliveryMs = 60000;
// What the shell returns for a start-up that ends with -1.
constexpr int kFailedStartExitCode = 255;

// Lines the ended copy wrote but the station has not read yet are taken in
// now, unanswered: acknowledged later, they would count as delivered by the
// copy that follows. They are all in the terminal's buffer already, so one
// pass of the event loop reads them.
void takeInUnansweredLines(bool *answering)
{
    QCoreApplication::processEvents();
    *answering = true;
}

SVelmoraConf confFor(const PtyStation &station, quint16 port)
{
    SVelmoraConf conf;
    conf.tcpPort = port;
    conf.comName = station.slavePath();
    conf.keepAlive = 1;
    return conf;
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The real program as a service runs it: nobody at the screen, stopped and
// started from outside, never two copies on one journal.
class TestLumariService : public QObject
{
    Q_OBJECT

private slots:
    void secondCopyInTheSameFolderEndsFirstKeepsItsEvents();
    void unwritableSettingsWithoutAScreenEndAtOnce();
    void stopSignalIsLoggedAndHeldEventsSurvive_data();
    void stopSignalIsLoggedAndHeldEventsSurvive();

private:
    // Sends count events from one device; each must get its ACK.
    QList<QByteArray> sendAcknowledgedEvents(quint16 port, int count, quint16 firstZone);
};

QList<QByteArray> TestLumariService::sendAcknowledgedEvents(quint16 port, int count, quint16 firstZone)
{
    QList<QByteArray> expected;
    TestDevice device(QByteArray::fromHex("123456"));
    if (!device.connectTo(port) || device.readMacRequest() != TestDevice::macRequest())
        return expected;
    for (int i = 0; i < count; ++i) {
        TestDevice::Event event;
        event.zone = static_cast<quint16>(firstZone + i);
        if (!device.sendEvent(event) || device.readFrame() != device.expectedAck())
            return expected;
        expected << TestDevice::expectedLine(event);
    }
    return expected;
}

void TestLumariService::secondCopyInTheSameFolderEndsFirstKeepsItsEvents()
{
    constexpr int kEvents = 6;
    PtyStation station;
    bool answering = false;
    station.setAnswerPolicy([&answering](const QByteArray &, int) {
        return answering ? PtyStation::ack() : QByteArray();
    });
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station, port), kStartMs));
    const QList<QByteArray> firstHalf = sendAcknowledgedEvents(port, kEvents / 2, 0x200);
    QCOMPARE(firstHalf.size(), kEvents / 2);

    const QString confPath = lumari.appDir() + QStringLiteral("/conf/Lumari.conf");
    const QByteArray confBefore = fileBytes(confPath);
    QString output;
    QCOMPARE(lumari.runAnotherCopy(kExitMs, &output), kFailedStartExitCode);
    QVERIFY2(output.contains(QStringLiteral("Lumari is already running in ") + lumari.appDir()), qPrintable(output));
    QVERIFY(lumari.dayLog().contains(QStringLiteral("[error] [Lumari] Lumari is already running in ")));
    QCOMPARE(fileBytes(confPath), confBefore);

    // The first copy goes on taking events into the same journal.
    QCOMPARE(lumari.state(), QProcess::Running);
    const QList<QByteArray> secondHalf = sendAcknowledgedEvents(port, kEvents / 2, 0x300);
    QCOMPARE(secondHalf.size(), kEvents / 2);
    lumari.kill();

    takeInUnansweredLines(&answering);
    QVERIFY(lumari.startListening(confFor(station, port), kStartMs));
    QVERIFY(station.waitForAcknowledgedEvents(kEvents, kDeliveryMs));
    QCOMPARE(station.acknowledgedEvents(), firstHalf + secondHalf);
}

// A dangling link as the settings file cannot be read or replaced. Without a
// screen the warning goes to standard error and the process ends at once
// instead of waiting for a box that nobody answers.
void TestLumariService::unwritableSettingsWithoutAScreenEndAtOnce()
{
    LumariInstance lumari;
    QVERIFY(lumari.isValid());
    QVERIFY(QDir().mkpath(lumari.appDir() + QStringLiteral("/conf")));
    QVERIFY(QFile::link(lumari.appDir() + QStringLiteral("/nowhere/Lumari.conf"),
                        lumari.appDir() + QStringLiteral("/conf/Lumari.conf")));
    QVERIFY(lumari.start());

    QVERIFY(lumari.waitForExit(kExitMs));
    QCOMPARE(lumari.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lumari.exitCode(), kFailedStartExitCode);
    const QString text = QStringLiteral("Невозможно получить настройки! Запустите программу с правами администратора!");
    const QString output = QString::fromUtf8(lumari.output().toLocal8Bit());
    QVERIFY2(output.contains(text), qPrintable(output));
    QVERIFY(lumari.dayLog().contains(QStringLiteral("[error] [Lumari] ") + text));
    QVERIFY(!QFile::exists(lumari.appDir() + QStringLiteral("/spool/events.journal")));
}

void TestLumariService::stopSignalIsLoggedAndHeldEventsSurvive_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void TestLumariService::stopSignalIsLoggedAndHeldEventsSurvive()
{
    QFETCH(int, signalNumber);
    constexpr int kEvents = 3;
    PtyStation station;
    bool answering = false;
    station.setAnswerPolicy([&answering](const QByteArray &, int) {
        return answering ? PtyStation::ack() : QByteArray();
    });
    LumariInstance lumari;
    const quint16 port = LumariInstance::freePort();
    QVERIFY(lumari.startListening(confFor(station, port), kStartMs));
    const QList<QByteArray> expected = sendAcknowledgedEvents(port, kEvents, 0x400);
    QCOMPARE(expected.size(), kEvents);
    QVERIFY(station.waitForEventLines(1, kDeliveryMs));

    lumari.sendSignal(signalNumber);
    QVERIFY(lumari.waitForExit(kExitMs));
    QCOMPARE(lumari.exitStatus(), QProcess::NormalExit);
    QCOMPARE(lumari.exitCode(), 0);
    const QString stopLine = QStringLiteral("[info] [Lumari] Stopped by signal %1.\n").arg(signalNumber);
    QCOMPARE(lumari.dayLog().count(stopLine), 1);
    QVERIFY(lumari.dayLog().endsWith(stopLine));

    takeInUnansweredLines(&answering);
    QVERIFY(lumari.startListening(confFor(station, port), kStartMs));
    QVERIFY(station.waitForAcknowledgedEvents(kEvents, kDeliveryMs));
    QCOMPARE(station.acknowledgedEvents(), expected);
}

QTEST_GUILESS_MAIN(TestLumariService)
#include "tst_lumari_service.moc"
