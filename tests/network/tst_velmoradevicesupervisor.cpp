#include "velmoraclock.h"
#include "velmoradevicestatefile.h"
#include "velmoradevicesupervisor.h"
#include "velmorareceiverformat.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Supervision and admission on a manual clock, with the device state in a
// real file: what the monitoring software is sent, when, and what is
// refused.
class TestVelmoraDeviceSupervisor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void absenceReportedOnceAndRestored_data();
    void absenceReportedOnceAndRestored();
    void absenceNotRepeatedAfterRestart();
    void newDeviceKeptAtItsFirstFrame_data();
    void newDeviceKeptAtItsFirstFrame();
    void refusal_data();
    void refusal();

private:
    // A supervisor as the receiver builds it, its events and log lines
    // collected.
    std::unique_ptr<VelmoraDeviceSupervisor> makeSupervisor(bool onlyListed, int periodS);
    void writeList(const QByteArray &bytes);
    // The receiver line of each event handed over, on receiver 01 line 1.
    QStringList sentLines() const;
    // Admits and hears the device, as a pass that journaled its frame does.
    bool frame(VelmoraDeviceSupervisor &supervisor, const QString &deviceId, const QString &mac);

    VelmoraManualClock clock;
    std::unique_ptr<QTemporaryDir> directory;
    std::unique_ptr<VelmoraDeviceStateFile> store;
    QVector<SVelmoraMsg> handedOver;
    QStringList logLines;
};

namespace {
const QString kDevice = QStringLiteral("0A0B0C");
const QString kMacA = QStringLiteral("0102030405060708");
const QString kMacB = QStringLiteral("1112131415161718");
const QByteArray kHeader("device_id,description,supervision_s,mac\n");
} // namespace

void TestVelmoraDeviceSupervisor::init()
{
    directory = std::make_unique<QTemporaryDir>();
    store = std::make_unique<VelmoraDeviceStateFile>(directory->path());
    handedOver.clear();
    logLines.clear();
}

std::unique_ptr<VelmoraDeviceSupervisor> TestVelmoraDeviceSupervisor::makeSupervisor(bool onlyListed, int periodS)
{
    auto supervisor = std::make_unique<VelmoraDeviceSupervisor>(clock);
    supervisor->setStore(store.get());
    supervisor->setListPath(directory->filePath(QStringLiteral("devices.csv")));
    supervisor->setReporter([this](const SVelmoraLogLine &line) { logLines << line.fileText; });
    supervisor->setEventHandOver([this](QVector<SVelmoraMsg> &events, QString *) {
        handedOver << events;
        return true;
    });
    supervisor->configure(onlyListed, periodS);
    return supervisor;
}

void TestVelmoraDeviceSupervisor::writeList(const QByteArray &bytes)
{
    QFile file(directory->filePath(QStringLiteral("devices.csv")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList TestVelmoraDeviceSupervisor::sentLines() const
{
    QStringList lines;
    for (const SVelmoraMsg &event : handedOver)
        lines << VelmoraReceiverFormat::eventLine(QStringLiteral("01"), QStringLiteral("1"), event, false);
    return lines;
}

bool TestVelmoraDeviceSupervisor::frame(VelmoraDeviceSupervisor &supervisor, const QString &deviceId,
                                        const QString &mac)
{
    if (supervisor.admit(deviceId, mac, QStringLiteral("127.0.0.1"), 5000).refused())
        return false;
    if (supervisor.isAbsent(deviceId))
        handedOver << supervisor.restoreEvent(deviceId, clock.now(), QStringLiteral("127.0.0.1"));
    supervisor.heard({deviceId});
    return supervisor.commit();
}

void TestVelmoraDeviceSupervisor::absenceReportedOnceAndRestored_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<int>("configuredS");
    // The device's period, and 0 when it is not supervised.
    QTest::addColumn<int>("periodS");

    QTest::newRow("configured period, device first seen") << QByteArray() << 60 << 60;
    QTest::newRow("period of the device's row") << QByteArray(kHeader + "0A0B0C,Shop,300,\n") << 60 << 300;
    QTest::newRow("row not supervised") << QByteArray(kHeader + "0A0B0C,Shop,0,\n") << 60 << 0;
    QTest::newRow("default: no supervision") << QByteArray() << 0 << 0;
}

void TestVelmoraDeviceSupervisor::absenceReportedOnceAndRestored()
{
    QFETCH(QByteArray, list);
    QFETCH(int, configuredS);
    QFETCH(int, periodS);

    if (!list.isEmpty())
        writeList(list);
    const std::unique_ptr<VelmoraDeviceSupervisor> supervisor = makeSupervisor(false, configuredS);
    QVERIFY(frame(*supervisor, kDevice, kMacA));
    if (periodS == 0) {
        clock.advance(24 * 3600 * 1000);
        QCOMPARE(sentLines(), QStringList());
        return;
    }
    // Heard halfway: the period starts again from that frame.
    clock.advance(qint64(periodS) * 500);
    QVERIFY(frame(*supervisor, kDevice, kMacA));
    clock.advance(qint64(periodS) * 1000 - 1000);
    QCOMPARE(sentLines(), QStringList());
    // Due at the period; the check runs once a second.
    clock.advance(2000);
    QCOMPARE(sentLines(), QStringList{QStringLiteral("5011 180B0CE35000000\x14")});
    clock.advance(qint64(periodS) * 3000);
    QCOMPARE(handedOver.size(), 1);
    QVERIFY(supervisor->isAbsent(kDevice));

    QVERIFY(frame(*supervisor, kDevice, kMacA));
    QCOMPARE(sentLines().last(), QStringLiteral("5011 180B0CR35000000\x14"));
    QVERIFY(!supervisor->isAbsent(kDevice));
    // Supervised again from the frame on.
    clock.advance(qint64(periodS) * 1000 + 1000);
    QCOMPARE(handedOver.size(), 3);
}

void TestVelmoraDeviceSupervisor::absenceNotRepeatedAfterRestart()
{
    {
        const std::unique_ptr<VelmoraDeviceSupervisor> supervisor = makeSupervisor(false, 30);
        QVERIFY(frame(*supervisor, kDevice, kMacA));
        QVERIFY(frame(*supervisor, QStringLiteral("0A0B0D"), kMacB));
        clock.advance(31000);
        QCOMPARE(handedOver.size(), 2);
        QVERIFY(frame(*supervisor, QStringLiteral("0A0B0D"), kMacB));
        QCOMPARE(handedOver.size(), 3);
    }
    // Restarted: the device whose absence was reported is not reported
    // again; the other one's period counts from the start.
    store = std::make_unique<VelmoraDeviceStateFile>(directory->path());
    handedOver.clear();
    const std::unique_ptr<VelmoraDeviceSupervisor> supervisor = makeSupervisor(false, 30);
    QVERIFY(supervisor->isAbsent(kDevice));
    clock.advance(29000);
    QCOMPARE(sentLines(), QStringList());
    clock.advance(2000);
    QCOMPARE(sentLines(), QStringList{QStringLiteral("5011 180B0DE35000000\x14")});
    QVERIFY(frame(*supervisor, kDevice, kMacA));
    QCOMPARE(sentLines().last(), QStringLiteral("5011 180B0CR35000000\x14"));
}

void TestVelmoraDeviceSupervisor::newDeviceKeptAtItsFirstFrame_data()
{
    QTest::addColumn<QString>("mac");
    QTest::newRow("MAC presented") << kMacA;
    QTest::newRow("no MAC presented") << QString();
}

void TestVelmoraDeviceSupervisor::newDeviceKeptAtItsFirstFrame()
{
    QFETCH(QString, mac);
    const std::unique_ptr<VelmoraDeviceSupervisor> supervisor = makeSupervisor(false, 60);
    QVERIFY(frame(*supervisor, kDevice, mac));
    // The file as a kill would leave it: the supervisor is never closed.
    QFile file(store->filePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    SVelmoraDeviceState kept;
    bool forgotten = true;
    QVERIFY(VelmoraDeviceStateFile::readLine(file.readAll().trimmed(), &kept, &forgotten));
    QVERIFY(!forgotten);
    QCOMPARE(kept.deviceId, kDevice);
    QCOMPARE(kept.mac, mac);
    QCOMPARE(kept.lastHeardAt, clock.msecsSinceEpoch());
}

void TestVelmoraDeviceSupervisor::refusal_data()
{
    QTest::addColumn<bool>("onlyListed");
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("firstMac");
    QTest::addColumn<QString>("laterMac");
    // The refusal's log line, empty when the later frame is admitted.
    QTest::addColumn<QString>("refusedLine");
    // The list that admits the device; empty for none.
    QTest::addColumn<QByteArray>("admittingList");

    QTest::newRow("listed: not listed, then added to the list")
        << true << QByteArray(kHeader + "0A0B0D,Bank,,\n") << QString() << kMacA
        << QStringLiteral("[net] Device 0A0B0C from 127.0.0.1:5000 refused: not listed.")
        << QByteArray(kHeader + "0A0B0D,Bank,,\n0A0B0C,Shop,,\n");
    QTest::newRow("listed: MAC learned at first contact is pinned")
        << true << QByteArray(kHeader + "0A0B0C,Shop,,\n") << kMacA << kMacB
        << QStringLiteral("[net] Device 0A0B0C from 127.0.0.1:5000 refused: MAC differs: expected "
                          "0102030405060708, got 1112131415161718.")
        << QByteArray(kHeader + "0A0B0C,Shop,,1112131415161718\n");
    QTest::newRow("all: MAC of the row is pinned")
        << false << QByteArray(kHeader + "0A0B0C;Shop;;0102030405060708\n").replace(',', ';') << QString() << kMacB
        << QStringLiteral("[net] Device 0A0B0C from 127.0.0.1:5000 refused: MAC differs: expected "
                          "0102030405060708, got 1112131415161718.")
        << QByteArray();
    QTest::newRow("all: a changed MAC is learned") << false << QByteArray() << kMacA << kMacB << QString()
                                                   << QByteArray();
}

void TestVelmoraDeviceSupervisor::refusal()
{
    QFETCH(bool, onlyListed);
    QFETCH(QByteArray, list);
    QFETCH(QString, firstMac);
    QFETCH(QString, laterMac);
    QFETCH(QString, refusedLine);
    QFETCH(QByteArray, admittingList);

    if (!list.isEmpty())
        writeList(list);
    const std::unique_ptr<VelmoraDeviceSupervisor> supervisor = makeSupervisor(onlyListed, 60);
    if (!firstMac.isEmpty())
        QVERIFY(frame(*supervisor, kDevice, firstMac));
    logLines.clear();
    if (refusedLine.isEmpty()) {
        QVERIFY(frame(*supervisor, kDevice, laterMac));
        QCOMPARE(logLines.filter(QStringLiteral("new MAC")).size(), 1);
        return;
    }
    // Repeats within the hour are refused without another line.
    for (int repeat = 0; repeat < 3; ++repeat) {
        QVERIFY(!frame(*supervisor, kDevice, laterMac));
        clock.advance(10000);
    }
    QCOMPARE(logLines.filter(QStringLiteral("refused")), QStringList{refusedLine});
    // Refused frames do not count as heard: the device ends absent.
    clock.advance(60000);
    if (!firstMac.isEmpty())
        QCOMPARE(sentLines(), QStringList{QStringLiteral("5011 180B0CE35000000\x14")});
    clock.advance(3600 * 1000);
    QVERIFY(!frame(*supervisor, kDevice, laterMac));
    QCOMPARE(logLines.filter(QStringLiteral("refused")).size(), 2);
    if (admittingList.isEmpty())
        return;
    // The changed list is read again within the poll interval.
    QTest::qWait(1100);
    writeList(admittingList);
    clock.advance(VelmoraDeviceSupervisor::kListPollMs + 1000);
    QVERIFY(frame(*supervisor, kDevice, laterMac));
}

QTEST_GUILESS_MAIN(TestVelmoraDeviceSupervisor)

#include "tst_velmoradevicesupervisor.moc"
