// The Devices window: its table over snapshots, and in the running program
// (real network thread on loopback, a pseudo-terminal as the port) the last
// periodic test of a connected device, read from the network thread's
// snapshot.

#include "ptystation.h"
#include "testdevice.h"
#include "apptestsupport.h"

#include "svelmoradevicesnapshot.h"
#include "velmora.h"
#include "velmoraclock.h"
#include "velmorastartup.h"
#include "velmoracomthread.h"
#include "velmoraconf.h"
#include "velmoradevicesmodel.h"
#include "velmoradeviceswindow.h"
#include "velmoraeventjournal.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"
#include "velmoratranslators.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QSignalSpy>
#include <QTableView>
#include <QTextEdit>
#include <QTemporaryDir>
#include <QToolBar>
#include <QTranslator>
#include <QtTest>

#include <algorithm>
#include <memory>

Q_DECLARE_METATYPE(SVelmoraDeviceRow)

namespace {

const int kSettleMs = 10000;
const QByteArray kDeviceId = QByteArray::fromHex("123456");
const char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

using Model = VelmoraDevicesModel;

QString cell(const QAbstractItemModel *model, int row, int column)
{
    return model->data(model->index(row, column)).toString();
}

QString paneText()
{
    Velmora::flushLogView();
    return Velmora::logView() ? Velmora::logView()->toPlainText() : QString();
}

SVelmoraDeviceRow deviceRow(quint16 port, qint64 disconnectedAt = 0)
{
    SVelmoraDeviceRow row;
    row.deviceId = QStringLiteral("0A0B0C");
    row.peerAddress = QStringLiteral("127.0.0.1");
    row.peerPort = port;
    row.connectedAt = QDateTime(QDate(2026, 12, 8), QTime(4, 0, 0)).toMSecsSinceEpoch();
    row.disconnectedAt = disconnectedAt;
    return row;
}

SVelmoraDeviceSnapshot snapshotOf(int connected, int disconnected)
{
    SVelmoraDeviceSnapshot snapshot;
    for (int index = 0; index < connected; ++index)
        snapshot.connected << deviceRow(quint16(1000 + index));
    for (int index = 0; index < disconnected; ++index)
        snapshot.disconnected << deviceRow(quint16(2000 + index), snapshot.connected.isEmpty() ? 1 : 2);
    return snapshot;
}

} // namespace

class TestVelmoraDevicesWindow : public QObject
{
    Q_OBJECT

private slots:
    void cellTexts_data();
    void cellTexts();
    void newSnapshotsKeepTheRowsThatStay_data();
    void newSnapshotsKeepTheRowsThatStay();
    void everyTextIsTranslated();
    void showsTheLastPeriodicTestOfAConnectedDevice();
    void knownDeviceStates_data();
    void knownDeviceStates();
    void actionsWriteTheDeviceList();
};

void TestVelmoraDevicesWindow::cellTexts_data()
{
    QTest::addColumn<SVelmoraDeviceRow>("row");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");

    const qint64 at = QDateTime(QDate(2026, 12, 8), QTime(4, 5, 6)).toMSecsSinceEpoch();
    SVelmoraDeviceRow fresh = deviceRow(40001);
    fresh.deviceId.clear();
    SVelmoraDeviceRow active = deviceRow(40002);
    active.lastFrameAt = at;
    active.lastTestAt = at;
    active.framesReceived = 12345;
    active.macKnown = true;
    SVelmoraDeviceRow gone = active;
    gone.disconnectedAt = at + 60000;

    QTest::newRow("address and port") << fresh << true << int(Model::AddressColumn) << "127.0.0.1:40001";
    QTest::newRow("no ID before the first frame") << fresh << true << int(Model::DeviceIdColumn) << "";
    QTest::newRow("ID") << active << true << int(Model::DeviceIdColumn) << "0A0B0C";
    QTest::newRow("connected since") << fresh << true << int(Model::ConnectedSinceColumn) << "2026-12-08 04:00:00";
    QTest::newRow("no frame yet") << fresh << true << int(Model::LastFrameColumn) << "none";
    QTest::newRow("never tested") << fresh << true << int(Model::LastTestColumn) << "none";
    QTest::newRow("last periodic test") << active << true << int(Model::LastTestColumn) << "2026-12-08 04:05:06";
    QTest::newRow("frames") << active << true << int(Model::FramesColumn) << "12345";
    QTest::newRow("MAC not known") << fresh << true << int(Model::MacColumn) << "not known";
    QTest::newRow("MAC known") << active << true << int(Model::MacColumn) << "known";
    QTest::newRow("still connected") << active << true << int(Model::DisconnectedColumn) << "";
    QTest::newRow("disconnected at") << gone << false << int(Model::DisconnectedColumn) << "2026-12-08 04:06:06";
    QTest::newRow("gone, its last test kept") << gone << false << int(Model::LastTestColumn) << "2026-12-08 04:05:06";
}

void TestVelmoraDevicesWindow::cellTexts()
{
    QFETCH(SVelmoraDeviceRow, row);
    QFETCH(bool, connected);
    QFETCH(int, column);
    QFETCH(QString, text);

    SVelmoraDeviceSnapshot snapshot;
    (connected ? snapshot.connected : snapshot.disconnected) << row;
    Model model;
    model.setSnapshot(snapshot);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(cell(&model, 0, column), text);
    // Devices that left are greyed out; connected ones are not.
    QCOMPARE(model.data(model.index(0, column), Qt::ForegroundRole).isValid(), !connected);
}

void TestVelmoraDevicesWindow::newSnapshotsKeepTheRowsThatStay_data()
{
    QTest::addColumn<int>("connectedBefore");
    QTest::addColumn<int>("disconnectedBefore");
    QTest::addColumn<int>("connectedAfter");
    QTest::addColumn<int>("disconnectedAfter");

    QTest::newRow("same rows, new numbers") << 3 << 1 << 3 << 1;
    QTest::newRow("a device connects") << 2 << 0 << 3 << 0;
    QTest::newRow("a device leaves") << 3 << 0 << 2 << 1;
    QTest::newRow("stop: all leave") << 4 << 0 << 0 << 4;
    QTest::newRow("departures expire") << 1 << 5 << 1 << 0;
    QTest::newRow("from none") << 0 << 0 << 2 << 2;
}

void TestVelmoraDevicesWindow::newSnapshotsKeepTheRowsThatStay()
{
    QFETCH(int, connectedBefore);
    QFETCH(int, disconnectedBefore);
    QFETCH(int, connectedAfter);
    QFETCH(int, disconnectedAfter);

    VelmoraDevicesWindow window;
    Model *model = window.devicesModel();
    window.snapshotSlot(snapshotOf(connectedBefore, disconnectedBefore));
    window.devicesView()->selectRow(0);
    QSignalSpy resets(model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(model, &QAbstractItemModel::rowsRemoved);

    SVelmoraDeviceSnapshot next = snapshotOf(connectedAfter, disconnectedAfter);
    if (!next.connected.isEmpty())
        next.connected[0].framesReceived = 777;
    window.snapshotSlot(next);

    const int before = connectedBefore + disconnectedBefore;
    const int after = connectedAfter + disconnectedAfter;
    QCOMPARE(resets.count(), 0);
    QCOMPARE(model->rowCount(), after);
    QCOMPARE(inserted.count(), after > before ? 1 : 0);
    QCOMPARE(removed.count(), after < before ? 1 : 0);
    QCOMPARE(model->connectedCount(), connectedAfter);
    QCOMPARE(model->disconnectedCount(), disconnectedAfter);
    if (connectedAfter > 0)
        QCOMPARE(cell(model, 0, Model::FramesColumn), QStringLiteral("777"));
    for (int row = 0; row < after; ++row)
        QCOMPARE(cell(model, row, Model::DisconnectedColumn).isEmpty(), row < connectedAfter);
    QCOMPARE(window.summaryText()->text(), QStringLiteral("Connected: %1. Disconnected during the last 24 hours: %2.")
                                               .arg(connectedAfter)
                                               .arg(disconnectedAfter));
    if (before > 0 && after > 0)
        QVERIFY(window.devicesView()->selectionModel()->isRowSelected(0, QModelIndex()));
}

void TestVelmoraDevicesWindow::everyTextIsTranslated()
{
    const QList<QTranslator *> installed = installVelmoraTranslators(QStringLiteral(LUMARI_TRANSLATE_DIR "/"));
    QVERIFY(!installed.isEmpty());

    Model model;
    SVelmoraDeviceSnapshot snapshot;
    snapshot.connected << deviceRow(1);
    model.setSnapshot(snapshot);
    QStringList shown;
    for (int column = 0; column < Model::ColumnCount; ++column)
        shown << model.headerData(column, Qt::Horizontal).toString();
    shown << cell(&model, 0, Model::LastTestColumn) << cell(&model, 0, Model::MacColumn);
    snapshot.connected[0].macKnown = true;
    model.setSnapshot(snapshot);
    shown << cell(&model, 0, Model::MacColumn);
    VelmoraDevicesWindow window;
    shown << window.windowTitle() << window.summaryText()->text();
    Velmora mainWindow;
    QCOMPARE(mainWindow.initGui(), 1);
    shown << mainWindow.devicesWindowAction()->text() << mainWindow.devicesWindowAction()->toolTip();

    for (QTranslator *translator : installed) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    // Each text is in Cyrillic: none was left in English.
    for (const QString &text : qAsConst(shown)) {
        const bool cyrillic = std::any_of(text.cbegin(), text.cend(), [](QChar c) {
            return c.unicode() >= 0x0400 && c.unicode() <= 0x04FF;
        });
        QVERIFY2(cyrillic, qPrintable(text));
    }
}

void TestVelmoraDevicesWindow::showsTheLastPeriodicTestOfAConnectedDevice()
{
    QTemporaryDir appDir;
    QVERIFY(appDir.isValid());
    PtyStation comPort;
    QVERIFY(comPort.isOpen());
    SVelmoraConf *conf = VelmoraCommon_GetConf();
    VelmoraCommon_SetDefaultConf(conf);
    conf->tcpPort = unusedTcpPort();
    conf->comName = comPort.slavePath();
    QVERIFY(QDir().mkpath(appDir.filePath(QStringLiteral("conf"))));
    QCOMPARE(VelmoraCommon_WriteConf(conf, appDir.filePath(QStringLiteral("conf/Lumari.conf"))), 1);

    auto window = std::make_unique<Velmora>();
    VelmoraStartup startup(*window, VelmoraClock::system());
    startup.setApplicationDirectory(appDir.path());
    QCOMPARE(startup.run(), 1);
    // The threads live as long as the process in the program; here they are
    // stopped and freed however the test ends, the journal after them.
    struct Stopped
    {
        VelmoraStartup *startup;
        ~Stopped()
        {
            for (QThread *thread : {static_cast<QThread *>(startup->networkWorkerThread()),
                                    static_cast<QThread *>(startup->comWorkerThread())}) {
                thread->quit();
                thread->wait(kSettleMs);
            }
            delete startup->networkWorkerThread();
            delete startup->comWorkerThread();
            delete startup->eventJournal();
        }
    } stopped{&startup};

    // The action sits in the toolbar and opens the window.
    QAction *action = window->devicesWindowAction();
    QVERIFY(action);
    QVERIFY(window->mainToolBar()->actions().contains(action));
    QVERIFY(!window->devicesPanel());
    action->trigger();
    VelmoraDevicesWindow *devices = window->devicesPanel();
    QVERIFY(devices);
    QVERIFY(devices->isVisible());
    const QAbstractItemModel *table = devices->devicesView()->model();

    // The receiver starts listening in its own thread, after init().
    const QString listening = QStringLiteral("0.0.0.0:%1.").arg(conf->tcpPort);
    QTRY_VERIFY_WITH_TIMEOUT(paneText().contains(listening), kSettleMs);

    TestDevice device(kDeviceId);
    QVERIFY(device.connectTo(quint16(conf->tcpPort)));
    QCOMPARE(device.readMacRequest(), TestDevice::macRequest());
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kSettleMs);
    QCOMPARE(cell(table, 0, Model::LastTestColumn), QStringLiteral("none"));
    QCOMPARE(cell(table, 0, Model::MacColumn), QStringLiteral("not known"));

    QVERIFY(device.sendMac(QByteArray::fromHex("0102030405060708")));
    QCOMPARE(device.readFrame(), device.expectedAck());
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(device.sendRaw(TestDevice::buildFrame(0x0003, kDeviceId, QByteArray())));
    QCOMPARE(device.readFrame(), device.expectedAck());
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    QTRY_COMPARE_WITH_TIMEOUT(cell(table, 0, Model::FramesColumn), QStringLiteral("2"), kSettleMs);
    const QDateTime shownTest =
        QDateTime::fromString(cell(table, 0, Model::LastTestColumn), QLatin1String(kTimeFormat));
    QVERIFY2(shownTest.isValid() && shownTest >= before && shownTest <= after,
             qPrintable(cell(table, 0, Model::LastTestColumn)));
    QCOMPARE(cell(table, 0, Model::LastFrameColumn), cell(table, 0, Model::LastTestColumn));
    QCOMPARE(cell(table, 0, Model::DeviceIdColumn), QStringLiteral("123456"));
    QCOMPARE(cell(table, 0, Model::MacColumn), QStringLiteral("known"));
    QCOMPARE(cell(table, 0, Model::DisconnectedColumn), QString());

    // Once it has gone, the device is listed with the time it left.
    TestDevice other(QByteArray::fromHex("654321"));
    QVERIFY(other.connectTo(quint16(conf->tcpPort)));
    QCOMPARE(other.readMacRequest(), TestDevice::macRequest());
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, kSettleMs);
    QMetaObject::invokeMethod(startup.networkWorkerThread()->worker(), &VelmoraNetworkServer::stopSlot,
                              Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(devices->devicesModel()->disconnectedCount(), 2, kSettleMs);
    QCOMPARE(devices->devicesModel()->connectedCount(), 0);
    QVERIFY(!cell(table, 0, Model::DisconnectedColumn).isEmpty());
    QCOMPARE(devices->summaryText()->text(), QStringLiteral("Connected: 0. Disconnected during the last 24 hours: 2."));
}

QTEST_MAIN(TestVelmoraDevicesWindow)
void TestVelmoraDevicesWindow::knownDeviceStates_data()
{
    using State = SVelmoraKnownDevice::State;
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("periodS");
    QTest::addColumn<QString>("stateText");
    QTest::addColumn<QString>("periodText");

    QTest::newRow("connected and heard") << int(State::Heard) << true << 120 << "connected" << "120";
    QTest::newRow("heard 30 s ago, not supervised") << int(State::Heard) << false << 0 << "heard 30 s ago"
                                                    << "not supervised";
    QTest::newRow("absent since") << int(State::Absent) << false << 120 << "absent since 04:05" << "120";
    QTest::newRow("refused: not listed") << int(State::RefusedNotListed) << true << 0 << "refused: not listed"
                                         << "not supervised";
    QTest::newRow("refused: MAC differs") << int(State::RefusedMacDiffers) << false << 60 << "refused: MAC differs"
                                          << "60";
    QTest::newRow("listed, never heard") << int(State::NotHeard) << false << 60 << "not heard since the start"
                                         << "60";
}

void TestVelmoraDevicesWindow::knownDeviceStates()
{
    QFETCH(int, state);
    QFETCH(bool, connected);
    QFETCH(int, periodS);
    QFETCH(QString, stateText);
    QFETCH(QString, periodText);

    const qint64 at = QDateTime(QDate(2026, 12, 8), QTime(4, 5, 6)).toMSecsSinceEpoch();
    SVelmoraDeviceSnapshot snapshot;
    snapshot.takenAt = at + 30000;
    SVelmoraKnownDevice device;
    device.deviceId = QStringLiteral("0A0B0C");
    device.description = QStringLiteral("Shop");
    device.periodS = periodS;
    device.state = SVelmoraKnownDevice::State(state);
    device.lastHeardAt = at;
    device.absentSince = at;
    snapshot.known << device;
    if (connected)
        snapshot.connected << deviceRow(40001);
    Model model;
    model.setSnapshot(snapshot);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(cell(&model, 0, Model::DeviceIdColumn), QStringLiteral("0A0B0C"));
    QCOMPARE(cell(&model, 0, Model::DescriptionColumn), QStringLiteral("Shop"));
    QCOMPARE(cell(&model, 0, Model::StateColumn), stateText);
    QCOMPARE(cell(&model, 0, Model::PeriodColumn), periodText);
    QCOMPARE(cell(&model, 0, Model::AddressColumn).isEmpty(), !connected);
    QCOMPARE(model.absentCount(), state == int(SVelmoraKnownDevice::State::Absent) ? 1 : 0);
}

void TestVelmoraDevicesWindow::actionsWriteTheDeviceList()
{
    QTemporaryDir directory;
    const QString listPath = directory.filePath(QStringLiteral("devices.csv"));
    VelmoraDevicesWindow window;
    window.setDeviceListPath(listPath);
    window.setConfirmationsShown(false);
    QSignalSpy forgotten(&window, &VelmoraDevicesWindow::forgetSignal);
    QSignalSpy logged(&window, &VelmoraDevicesWindow::logSignal);

    // A refused stranger is admitted: its row is added.
    SVelmoraDeviceSnapshot snapshot;
    SVelmoraKnownDevice stranger;
    stranger.deviceId = QStringLiteral("0A0B0C");
    stranger.state = SVelmoraKnownDevice::State::RefusedNotListed;
    snapshot.known << stranger;
    window.snapshotSlot(snapshot);
    window.devicesView()->selectRow(0);
    window.admitSelected();
    const auto fileText = [&] {
        QFile file(listPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QCOMPARE(fileText(), QByteArray("device_id,description,supervision_s,mac\n0A0B0C,,,\n"));

    QVERIFY(window.editDevice(QStringLiteral("0A0B0C"), QStringLiteral("Shop; north"), 300));
    QCOMPARE(fileText(), QByteArray("device_id,description,supervision_s,mac\n0A0B0C,Shop; north,300,\n"));

    snapshot.known[0].state = SVelmoraKnownDevice::State::Heard;
    snapshot.known[0].listed = true;
    window.snapshotSlot(snapshot);
    window.devicesView()->selectRow(0);
    window.forgetSelected();
    QCOMPARE(fileText(), QByteArray("device_id,description,supervision_s,mac\n"));
    QCOMPARE(forgotten.size(), 1);
    QCOMPARE(logged.size(), 3);
    QVERIFY(logged.at(0).at(0).toString().contains(QStringLiteral("admitted device 0A0B0C")));
}

#include "tst_velmoradeviceswindow.moc"
