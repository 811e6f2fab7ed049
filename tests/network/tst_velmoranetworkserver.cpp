#include "fakeeventstore.h"
#include "networktesthelpers.h"
#include "testframes.h"

#include "svelmoramsg.h"
#include "velmoraeventcodec.h"
#include "velmoraeventjournal.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

using namespace NetworkTest;

namespace {

const QString kLocalHost = QStringLiteral("127.0.0.1");
// The worked example of the device documentation: event for ID 12 34 56.
const QByteArray kEvent = QByteArray::fromHex("4DD400001A00000000010112345600000000000400180012341130010005614C0D0A");
const QByteArray kTestFrame = TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray());
const QByteArray kMacReply =
    TestFrames::frame(QByteArray::fromHex("777777"), 0x0090, QByteArray::fromHex("0102030405060708"));

QString peerOf(const QTcpSocket &device)
{
    return QStringLiteral("127.0.0.1:%1").arg(device.localPort());
}

// Sends the frame followed by a MAC reply, which is always answered: the
// first reply tells whether the frame got its ACK before it.
enum class Answer { Ack, NoAck, Nothing };
Answer answerTo(QTcpSocket *device, const QByteArray &frame, const QByteArray &id)
{
    device->write(frame + kMacReply);
    const QByteArray first = readReply(device);
    if (first == VelmoraFrame::ack({0x77, 0x77, 0x77}))
        return Answer::NoAck;
    const VelmoraFrame::DeviceId deviceId = {static_cast<quint8>(id.at(0)), static_cast<quint8>(id.at(1)),
                                             static_cast<quint8>(id.at(2))};
    if (first != VelmoraFrame::ack(deviceId) || readReply(device) != VelmoraFrame::ack({0x77, 0x77, 0x77}))
        return Answer::Nothing;
    return Answer::Ack;
}

// The events the server handed over, in order, whatever passes they came in.
QVector<SVelmoraMsg> eventsOf(const QSignalSpy &spy)
{
    QVector<SVelmoraMsg> events;
    for (const QList<QVariant> &arguments : spy)
        events += arguments.at(0).value<QVector<SVelmoraMsg>>();
    return events;
}

int countOf(const QStringList &lines, const QString &line)
{
    return static_cast<int>(std::count(lines.cbegin(), lines.cend(), line));
}

} // namespace

class TestVelmoraNetworkServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void acceptSendsMacRequestFirst();
    void ackIsWrittenBeforeTheEventIsEmitted();
    void disconnectAndStopWithSeveralConnections();
    void startAndStopRepeated();
    void startWhileListeningReplacesTheListener();
    void listenFailureIsReported();
    void connectsAndDisconnectsLeaveNothingBehind();
    void eventsAreJournaledBeforeTheirAck();
    void failedJournalWithholdsAckAndEvent();
    void devicesSendingTogetherShareOneDurableWrite();
    void realJournalKeepsTheEvent();
    void spoolInTheWayWithholdsAck();
    void screenLinesTranslatedDayLogNot();
    void halfFrameExpiresAndTheNextFrameIsAnswered();
    void garbageStreamIsLoggedOncePerBurst();
    void backlogLimitWithholdsAcks_data();
    void backlogLimitWithholdsAcks();
    void lowDiskSpaceWithholdsAcks();
    void twoThousandDevicesConnectingAtOnceAllGetTheMacRequest();

private:
    bool start(int port);
    void makeServer(VelmoraClock &clock);

    QTemporaryDir logDirectory;
    QString logPath;
    std::unique_ptr<VelmoraNetworkServer> server;
    std::unique_ptr<QSignalSpy> logSpy;
    std::unique_ptr<QSignalSpy> msgSpy;
    VelmoraManualClock manualClock;
};

void TestVelmoraNetworkServer::initTestCase()
{
    QVERIFY(logDirectory.isValid());
    logPath = logDirectory.path() + QLatin1Char('/');
    QCOMPARE(VelmoraCommon_LogInit(logPath, kLogDebug), 1);
    registerVelmoraMsgType();
}

void TestVelmoraNetworkServer::init()
{
    QFile::remove(logPath + VelmoraCommon_FormatTime("%Y%m%d", 0) + QStringLiteral("_Lumari.log"));
    makeServer(VelmoraClock::system());
}

void TestVelmoraNetworkServer::makeServer(VelmoraClock &clock)
{
    msgSpy.reset();
    logSpy.reset();
    server = std::make_unique<VelmoraNetworkServer>(clock);
    logSpy = std::make_unique<QSignalSpy>(server.get(), &VelmoraNetworkServer::logSignal);
    msgSpy = std::make_unique<QSignalSpy>(server.get(), &VelmoraNetworkServer::msgsSignal);
}

void TestVelmoraNetworkServer::cleanup()
{
    msgSpy.reset();
    logSpy.reset();
    server.reset();
}

bool TestVelmoraNetworkServer::start(int port)
{
    server->setListenAddress(kLocalHost, port);
    server->startSlot();
    return texts(*logSpy).contains(QStringLiteral("[net] Server start listening 127.0.0.1:%1.").arg(port));
}

void TestVelmoraNetworkServer::acceptSendsMacRequestFirst()
{
    const int port = freePort();
    QVERIFY(start(port));
    QByteArray firstFrame;
    const auto device = connectDevice(port, &firstFrame);
    QVERIFY(device);

    QCOMPARE(firstFrame.toHex(' '), VelmoraFrame::macRequest().toHex(' '));
    const QString accepted = QStringLiteral("[net] Connection accepted from %1 Count: (1)").arg(peerOf(*device));
    QCOMPARE(texts(*logSpy).last(), accepted);
    QCOMPARE(server->connectionCount(), 1);
    const QString log = dayLog(logPath);
    QVERIFY2(log.contains(QStringLiteral(" - [info] [net] Server start listening 127.0.0.1:%1.\n").arg(port)), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral(" - [info] ") + accepted + '\n'), qPrintable(log));
}

void TestVelmoraNetworkServer::ackIsWrittenBeforeTheEventIsEmitted()
{
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);

    bool ackArrivedFirst = false;
    connect(server.get(), &VelmoraNetworkServer::msgsSignal, this,
            [&] { ackArrivedFirst = device->waitForReadyRead(2000); });
    device->write(kEvent);
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 1);

    QVERIFY(ackArrivedFirst);
    QCOMPARE(device->read(24), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    const SVelmoraMsg event = eventsOf(*msgSpy).at(0);
    QCOMPARE(QStringList({event.account, event.event, event.zone, event.messageType}),
             QStringList({"001234", "1130", "005", "18"}));
    QCOMPARE(event.journalId, qint64(0));

    const QString log = dayLog(logPath);
    QVERIFY2(log.contains(QStringLiteral(" - [error] [net] Received packet from %1 : %2.\n")
                              .arg(peerOf(*device), QString::fromLatin1(kEvent.toHex().toUpper()))),
             qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral(" - [error] [net] ACK from %1 MAC: 0000000000000000 ID: 123456.\n")
                              .arg(peerOf(*device))),
             qPrintable(log));
}

void TestVelmoraNetworkServer::disconnectAndStopWithSeveralConnections()
{
    const int port = freePort();
    QVERIFY(start(port));
    const auto first = connectDevice(port);
    const auto second = connectDevice(port);
    const auto third = connectDevice(port);
    QVERIFY(first && second && third);
    QCOMPARE(server->connectionCount(), 3);

    const QString gone = QStringLiteral("[net] Client disconnected %1 Count: (2)").arg(peerOf(*second));
    second->disconnectFromHost();
    QTRY_VERIFY(texts(*logSpy).contains(gone));
    QCOMPARE(server->connectionCount(), 2);

    logSpy->clear();
    server->stopSlot();
    QCOMPARE(texts(*logSpy), QStringList({"[net] Closing tcp sockets Count (2).", "[net] Server stopped successfully."}));
    QCOMPARE(server->connectionCount(), 0);
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(third->state(), QAbstractSocket::UnconnectedState);
    QTcpSocket refused;
    refused.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
    QVERIFY(!refused.waitForConnected(5000));

    const QString log = dayLog(logPath);
    QVERIFY(log.contains(QStringLiteral(" - [info] ") + gone + '\n'));
    QVERIFY(log.contains(QStringLiteral(" - [error] [net] Closing tcp sockets Count (2).\n")));
    QVERIFY(log.contains(QStringLiteral(" - [error] [net] Server stopped successfully.\n")));
}

void TestVelmoraNetworkServer::startAndStopRepeated()
{
    const int port = freePort();
    for (int round = 0; round < 3; ++round) {
        logSpy->clear();
        QVERIFY(start(port));
        const auto device = connectDevice(port);
        QVERIFY(device);
        device->write(kTestFrame);
        QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
        server->stopSlot();
        QVERIFY(texts(*logSpy).contains(QStringLiteral("[net] Closing tcp sockets Count (1).")));
    }
    QCOMPARE(eventsOf(*msgSpy).size(), 3);
}

void TestVelmoraNetworkServer::startWhileListeningReplacesTheListener()
{
    const int port = freePort();
    QVERIFY(start(port));
    const auto kept = connectDevice(port);
    QVERIFY(kept);
    // A listener left open would hold the port and the second listen would fail.
    QVERIFY(start(port));
    QVERIFY(!texts(*logSpy).join('\n').contains(QStringLiteral("Unable to listen")));
    const auto next = connectDevice(port);
    QVERIFY(next);
    QCOMPARE(server->connectionCount(), 2);

    kept->write(kTestFrame);
    QCOMPARE(readReply(kept.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
}

void TestVelmoraNetworkServer::listenFailureIsReported()
{
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    const int port = occupant.serverPort();
    QVERIFY(!start(port));
    const QString line = QStringLiteral("[net] Unable to listen 127.0.0.1:%1.").arg(port);
    QCOMPARE(texts(*logSpy), QStringList{line});
    QVERIFY(dayLog(logPath).contains(QStringLiteral(" - [error] ") + line + '\n'));

    // Outside 1..65535 nothing listens: port 0 would give a random port no
    // device knows of.
    for (const int outside : {70000, 0, -1}) {
        server->setListenAddress(kLocalHost, outside);
        server->startSlot();
        QCOMPARE(texts(*logSpy).last(), QStringLiteral("[net] Unable to listen 127.0.0.1:%1.").arg(outside));
    }
}

void TestVelmoraNetworkServer::connectsAndDisconnectsLeaveNothingBehind()
{
    const int port = freePort();
    QVERIFY(start(port));
    const int childrenBefore = server->children().size();
    for (int i = 0; i < 100; ++i) {
        auto device = connectDevice(port);
        QVERIFY(device);
        device->disconnectFromHost();
        QTRY_COMPARE(server->connectionCount(), 0);
    }
    QTRY_COMPARE(server->children().size(), childrenBefore);
    QCOMPARE(texts(*logSpy).filter(QStringLiteral("Client disconnected")).size(), 100);
}

void TestVelmoraNetworkServer::eventsAreJournaledBeforeTheirAck()
{
    FakeEventStore store;
    server->setEventStore(&store);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);
    store.observedDevice = device.get();

    device->write(kEvent + kTestFrame);
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 2);
    QVERIFY(!store.ackBeforeAppend);
    int journaled = 0;
    for (int batch : qAsConst(store.batchSizes))
        journaled += batch;
    QCOMPARE(journaled, 2);
    QCOMPARE(eventsOf(*msgSpy).at(0).journalId, qint64(100));
    QCOMPARE(eventsOf(*msgSpy).at(1).journalId, qint64(101));
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));

    // Frames without an event are not journaled.
    store.observedDevice = nullptr;
    device->write(kMacReply);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x77, 0x77, 0x77}));
    QCOMPARE(journaled, 2);
}

void TestVelmoraNetworkServer::failedJournalWithholdsAckAndEvent()
{
    FakeEventStore store;
    store.failing = QStringLiteral("No space left on device");
    server->setEventStore(&store);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);

    device->write(kEvent);
    const QString line = QStringLiteral("[net] Can not journal 1 event(s) from %1, no ACK sent, "
                                        "the device will repeat them: No space left on device.")
                             .arg(peerOf(*device));
    QTRY_VERIFY(texts(*logSpy).contains(line));
    QVERIFY(dayLog(logPath).contains(QStringLiteral(" - [error] ") + line + '\n'));

    // The next reply the device sees answers its MAC reply, not the event.
    device->write(kMacReply);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x77, 0x77, 0x77}));
    QCOMPARE(eventsOf(*msgSpy).size(), 0);
}

void TestVelmoraNetworkServer::devicesSendingTogetherShareOneDurableWrite()
{
    FakeEventStore store;
    server->setEventStore(&store);
    const int port = freePort();
    QVERIFY(start(port));
    std::vector<std::unique_ptr<QTcpSocket>> devices;
    for (int i = 0; i < 3; ++i) {
        devices.push_back(connectDevice(port));
        QVERIFY(devices.back());
    }
    // The server shares this thread, so all three reads wait for the same
    // pass of the event loop.
    for (const auto &device : devices) {
        device->write(kEvent);
        QVERIFY(device->waitForBytesWritten(1000));
    }
    for (const auto &device : devices)
        QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    QCOMPARE(store.batchSizes, QVector<int>{3});
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 3);
    // One hand-over for the pass.
    QCOMPARE(msgSpy->count(), 1);
}

void TestVelmoraNetworkServer::realJournalKeepsTheEvent()
{
    QTemporaryDir spool;
    VelmoraEventJournal journal(spool.path() + QStringLiteral("/spool"));
    QVERIFY(journal.open());
    server->setEventStore(&journal);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);

    device->write(kEvent);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 1);
    const SVelmoraMsg sent = eventsOf(*msgSpy).at(0);
    QVERIFY(sent.journalId > 0);
    const QVector<SVelmoraMsg> kept = journal.pendingEvents();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.at(0).journalId, sent.journalId);
    QCOMPARE(kept.at(0).account, QStringLiteral("001234"));
    // The event goes on with the form the journal made of it, so that the
    // serial side need not make it again.
    QCOMPARE(sent.encoded.mid(sent.encodedStart), VelmoraEventCodec::encode(sent));
    QCOMPARE(kept.at(0).encoded, sent.encoded);
}

void TestVelmoraNetworkServer::spoolInTheWayWithholdsAck()
{
    QTemporaryDir base;
    const QString spoolPath = base.path() + QStringLiteral("/spool");
    QFile inTheWay(spoolPath);
    QVERIFY(inTheWay.open(QIODevice::WriteOnly));
    inTheWay.close();
    VelmoraEventJournal journal(spoolPath);
    QVERIFY(!journal.open());
    server->setEventStore(&journal);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);

    device->write(kEvent);
    QTRY_VERIFY(texts(*logSpy).join('\n').contains(QStringLiteral("Can not journal 1 event(s) from ")
                                                    + peerOf(*device)));
    QVERIFY(texts(*logSpy).last().contains(spoolPath));
    device->write(kMacReply);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x77, 0x77, 0x77}));
    QCOMPARE(eventsOf(*msgSpy).size(), 0);
}

void TestVelmoraNetworkServer::screenLinesTranslatedDayLogNot()
{
    InstalledTranslator russian;
    const int port = freePort();
    server->setListenAddress(kLocalHost, port);
    server->startSlot();
    const auto device = connectDevice(port);
    QVERIFY(device);
    const QString peer = peerOf(*device);
    device->write(kEvent);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 1);
    const QString time = eventsOf(*msgSpy).at(0).time;
    server->stopSlot();

    QCOMPARE(texts(*logSpy),
             QStringList({QStringLiteral("ru:[net] Server start listening 127.0.0.1:%1.").arg(port),
                          QStringLiteral("ru:[net] Connection accepted from %1 Count: (1)").arg(peer),
                          QStringLiteral("[net] NETMSG: 00123418113001005") + time,
                          QStringLiteral("ru:[net] Closing tcp sockets Count (1)."),
                          QStringLiteral("ru:[net] Server stopped successfully.")}));
    const QString log = dayLog(logPath);
    QVERIFY2(!log.contains(QStringLiteral("ru:")), qPrintable(log));
    for (const QString &line : {QStringLiteral(" - [info] [net] Server start listening 127.0.0.1:%1.\n").arg(port),
                                QStringLiteral(" - [info] [net] Connection accepted from %1 Count: (1)\n").arg(peer),
                                QStringLiteral(" - [error] [net] Received packet from %1 : %2.\n")
                                    .arg(peer, QString::fromLatin1(kEvent.toHex().toUpper())),
                                QStringLiteral(" - [error] [net] Closing tcp sockets Count (1).\n")})
        QVERIFY2(log.contains(line), qPrintable(line));
}


void TestVelmoraNetworkServer::halfFrameExpiresAndTheNextFrameIsAnswered()
{
    makeServer(manualClock);
    manualClock.advance(1000);
    server->setHalfFrameTimeout(300);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);

    // The device gives up after the first ten bytes of a frame.
    device->write(kEvent.left(10));
    device->flush();
    const QString hexText = QString::fromLatin1(kEvent.left(10).toHex().toUpper());
    QTRY_VERIFY(dayLog(logPath).contains(QStringLiteral("[net] Received packet from %1 : %2.")
                                             .arg(peerOf(*device), hexText)));
    const QString dropped =
        QStringLiteral("[net] Incomplete packet from %1 dropped after 0.3 s (%2).").arg(peerOf(*device), hexText);
    manualClock.advance(299);
    QVERIFY(!texts(*logSpy).contains(dropped));
    manualClock.advance(1);
    QVERIFY(texts(*logSpy).contains(dropped));
    QVERIFY2(dayLog(logPath).contains(QStringLiteral(" - [error] ") + dropped + '\n'), qPrintable(dayLog(logPath)));

    // Joined to the stale bytes, this frame would be read as garbage.
    device->write(kEvent);
    QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x12, 0x34, 0x56}));
    QTRY_COMPARE(eventsOf(*msgSpy).size(), 1);
    QCOMPARE(texts(*logSpy).filter(QStringLiteral("Incomplete packet")).size(), 1);
}

void TestVelmoraNetworkServer::garbageStreamIsLoggedOncePerBurst()
{
    const int port = freePort();
    QVERIFY(start(port));
    const auto hostile = connectDevice(port);
    const auto device = connectDevice(port);
    QVERIFY(hostile && device);
    const QString hostilePeer = peerOf(*hostile);

    // 10 MB in writes of 1000 bytes, the other device served meanwhile.
    const QByteArray garbage = QByteArray("no frame here. ").repeated(67).left(1000);
    constexpr int kWrites = 10 * 1000;
    hostile->write(garbage);
    QTRY_VERIFY(!texts(*logSpy).filter(QStringLiteral("Unknown packet from ") + hostilePeer).isEmpty());
    int acked = 0;
    for (int write = 1; write < kWrites; ++write) {
        hostile->write(garbage);
        if (write % 500 == 0) {
            QCOMPARE(answerTo(device.get(), kTestFrame, QByteArray::fromHex("0A0B0C")), Answer::Ack);
            ++acked;
        }
        while (hostile->bytesToWrite() > 64 * 1024)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    QTRY_VERIFY_WITH_TIMEOUT(hostile->bytesToWrite() == 0, 30000);
    QCOMPARE(acked, kWrites / 500 - 1);
    // What is still left out is reported when the connection ends.
    QTest::qWait(200);
    hostile->disconnectFromHost();
    QTRY_COMPARE_WITH_TIMEOUT(server->connectionCount(), 1, 10000);

    const QStringList hostileLines = dayLog(logPath).split(QLatin1Char('\n')).filter(hostilePeer);
    const QStringList unknown = hostileLines.filter(QStringLiteral("Unknown packet from"));
    const QStringList counted = hostileLines.filter(QStringLiteral("that held no frame"));
    QCOMPARE(unknown.size(), 1);
    QVERIFY(!counted.isEmpty());
    // Every byte is accounted for: the first read's in full, the rest counted.
    qint64 bytes = unknown.first().section(QLatin1Char('('), -1).section(QLatin1Char(')'), 0, 0).size() / 2;
    for (const QString &line : counted)
        bytes += line.section(QStringLiteral("read(s), "), 1).section(QLatin1Char(' '), 0, 0).toLongLong();
    QCOMPARE(bytes, qint64(kWrites) * garbage.size());
    qint64 logged = 0;
    for (const QString &line : hostileLines)
        logged += line.size();
    QVERIFY2(logged < 8 * 1024, qPrintable(QStringLiteral("%1 bytes in %2 lines").arg(logged).arg(hostileLines.size())));
}

void TestVelmoraNetworkServer::twoThousandDevicesConnectingAtOnceAllGetTheMacRequest()
{
    const int port = freePort();
    QVERIFY(start(port));
    // The server runs in this thread, so the devices connect from another
    // one, all at once, with plain blocking sockets.
    constexpr int kDevices = 2000;
    std::atomic<int> served{0};
    QThread *devices = QThread::create([&] {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < kDevices; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, static_cast<quint16>(port));
        }
        QDeadlineTimer deadline(60000);
        for (auto &socket : sockets) {
            while (socket->bytesAvailable() < 24 && !deadline.hasExpired())
                socket->waitForReadyRead(100);
            if (socket->read(24) == VelmoraFrame::macRequest())
                ++served;
        }
    });
    devices->start();
    QTRY_VERIFY_WITH_TIMEOUT(devices->isFinished(), 90000);
    delete devices;
    QCOMPARE(served.load(), kDevices);
}

void TestVelmoraNetworkServer::backlogLimitWithholdsAcks_data()
{
    QTest::addColumn<int>("maxPending");
    QTest::addColumn<int>("maxPendingPerDevice");
    QTest::addColumn<QString>("reachedLine");
    QTest::addColumn<QString>("leftLine");
    QTest::addColumn<bool>("otherDeviceAnswered");

    QTest::newRow("one device at its limit, the other still answered")
        << 100 << 3
        << "[net] Backlog full for device ID AA0001: 3 of its events wait for the serial line (limit 3), its new "
           "events get no ACK until they drain."
        << "[net] Backlog no longer full for device ID AA0001: 2 of its events wait for the serial line (limit 3), "
           "its new events are acknowledged again."
        << true;
    QTest::newRow("all devices held back at the total limit")
        << 3 << 100
        << "[net] Backlog full: 3 events wait for the serial line (limit 3), new events get no ACK until it drains."
        << "[net] Backlog no longer full: 2 events wait for the serial line (limit 3), new events are "
           "acknowledged again."
        << false;
}

void TestVelmoraNetworkServer::backlogLimitWithholdsAcks()
{
    QFETCH(int, maxPending);
    QFETCH(int, maxPendingPerDevice);
    QFETCH(QString, reachedLine);
    QFETCH(QString, leftLine);
    QFETCH(bool, otherDeviceAnswered);

    makeServer(manualClock);
    QTemporaryDir spool;
    VelmoraEventJournal journal(spool.path() + QStringLiteral("/spool"));
    QVERIFY(journal.open());
    server->setEventStore(&journal);
    VelmoraBacklogGuard::Limits limits;
    limits.maxPending = maxPending;
    limits.maxPendingPerDevice = maxPendingPerDevice;
    limits.recheckMs = 10;
    server->setBacklogLimits(limits);
    const int port = freePort();
    QVERIFY(start(port));
    const auto flooding = connectDevice(port);
    const auto other = connectDevice(port);
    QVERIFY(flooding && other);
    const QByteArray floodingId = QByteArray::fromHex("AA0001");
    const QByteArray otherId = QByteArray::fromHex("BB0002");
    const QByteArray floodingFrame = TestFrames::frame(floodingId, 0x0003, QByteArray());
    const QByteArray otherFrame = TestFrames::frame(otherId, 0x0003, QByteArray());

    for (int index = 0; index < 3; ++index)
        QCOMPARE(answerTo(flooding.get(), floodingFrame, floodingId), Answer::Ack);
    QCOMPARE(answerTo(flooding.get(), floodingFrame, floodingId), Answer::NoAck);
    QCOMPARE(answerTo(other.get(), otherFrame, otherId), otherDeviceAnswered ? Answer::Ack : Answer::NoAck);
    // Repeats while the limit holds are not reported again.
    QCOMPARE(answerTo(flooding.get(), floodingFrame, floodingId), Answer::NoAck);
    QCOMPARE(countOf(texts(*logSpy), reachedLine), 1);
    QCOMPARE(eventsOf(*msgSpy).size(), otherDeviceAnswered ? 4 : 3);

    // Only acknowledged events were journaled, each with its device.
    const QVector<SVelmoraMsg> pending = journal.pendingEvents();
    QCOMPARE(pending.size(), otherDeviceAnswered ? 4 : 3);
    QCOMPARE(pending.first().deviceId, QStringLiteral("AA0001"));
    QVERIFY(pending.first().receivedAt.isValid());
    if (otherDeviceAnswered)
        QCOMPARE(pending.last().deviceId, QStringLiteral("BB0002"));

    journal.markDelivered(pending.first().journalId);
    manualClock.advance(limits.recheckMs - 1);
    QCOMPARE(countOf(texts(*logSpy), leftLine), 0);
    manualClock.advance(1);
    QCOMPARE(countOf(texts(*logSpy), leftLine), 1);
    QCOMPARE(answerTo(flooding.get(), floodingFrame, floodingId), Answer::Ack);
    QCOMPARE(countOf(texts(*logSpy), reachedLine), 1);
    QCOMPARE(countOf(texts(*logSpy), leftLine), 1);
    const QString log = dayLog(logPath);
    QVERIFY2(log.contains(QStringLiteral(" - [error] ") + reachedLine + '\n'), qPrintable(log));
    QVERIFY2(log.contains(QStringLiteral(" - [info] ") + leftLine + '\n'), qPrintable(log));
}

void TestVelmoraNetworkServer::lowDiskSpaceWithholdsAcks()
{
    makeServer(manualClock);
    QTemporaryDir spool;
    const QString spoolPath = spool.path() + QStringLiteral("/spool");
    VelmoraEventJournal journal(spoolPath);
    QVERIFY(journal.open());
    server->setEventStore(&journal);
    std::atomic<qint64> freeBytes{10 * 1024 * 1024};
    QString probedDirectory;
    VelmoraBacklogGuard::Limits limits;
    limits.minFreeBytes = 64 * 1024 * 1024;
    limits.recheckMs = 10;
    limits.freeSpace = [&](const QString &directory) {
        probedDirectory = directory;
        return freeBytes.load();
    };
    server->setBacklogLimits(limits);
    const int port = freePort();
    QVERIFY(start(port));
    const auto device = connectDevice(port);
    QVERIFY(device);
    const QByteArray id = QByteArray::fromHex("AA0001");
    const QByteArray frame = TestFrames::frame(id, 0x0003, QByteArray());

    QCOMPARE(answerTo(device.get(), frame, id), Answer::NoAck);
    QCOMPARE(answerTo(device.get(), frame, id), Answer::NoAck);
    QCOMPARE(probedDirectory, QDir::cleanPath(spoolPath));
    const QString reached = QStringLiteral("[net] Low disk space for the spool %1: 10.0 MiB free (at least 64.0 MiB "
                                           "needed), new events get no ACK until there is room.")
                                .arg(QDir::cleanPath(spoolPath));
    QCOMPARE(countOf(texts(*logSpy), reached), 1);
    QCOMPARE(journal.pendingCount(), 0);

    // Just above the limit is not yet room enough to report.
    freeBytes = 65 * 1024 * 1024;
    QCOMPARE(answerTo(device.get(), frame, id), Answer::Ack);
    freeBytes = 80 * 1024 * 1024;
    const QString left = QStringLiteral("[net] Disk space for the spool %1 sufficient again: 80.0 MiB free, new "
                                        "events are acknowledged again.")
                             .arg(QDir::cleanPath(spoolPath));
    manualClock.advance(limits.recheckMs);
    QCOMPARE(countOf(texts(*logSpy), left), 1);
    QCOMPARE(answerTo(device.get(), frame, id), Answer::Ack);
    QCOMPARE(journal.pendingCount(), 2);
    QCOMPARE(countOf(texts(*logSpy), reached), 1);
}

QTEST_GUILESS_MAIN(TestVelmoraNetworkServer)
#include "tst_velmoranetworkserver.moc"
