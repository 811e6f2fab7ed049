#include "fakeeventstore.h"
#include "networktesthelpers.h"
#include "testframes.h"

#include "svelmoramsg.h"
#include "velmoralog.h"
#include "velmoranetworkserver.h"
#include "velmoranetworkthread.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace NetworkTest;

namespace {

// Ends the thread's loop however the test ends; a QThread must not be
// destroyed while it runs.
struct StoppedAtExit
{
    QThread &thread;
    ~StoppedAtExit()
    {
        thread.quit();
        thread.wait();
    }
};

// What the server's signals carried, collected in the test's own thread:
// the server emits them in its own, so they arrive here queued.
struct Received : QObject
{
    QStringList lines;
    QList<SVelmoraMsg> events;

    explicit Received(VelmoraNetworkServer *server)
    {
        connect(server, &VelmoraNetworkServer::logSignal, this, [this](const QString &line) { lines.append(line); });
        connect(server, &VelmoraNetworkServer::msgsSignal, this,
                [this](const QVector<SVelmoraMsg> &msgs) { events += msgs.toList(); });
    }
};

void startListening(VelmoraNetworkServer *server, const QString &address, int port)
{
    server->setListenAddress(address, port);
    QMetaObject::invokeMethod(server, &VelmoraNetworkServer::startSlot, Qt::QueuedConnection);
}

} // namespace

class TestVelmoraNetworkThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void workerLivesFromStartWorkerToTheEndOfTheLoop();
    void servesDevicesFromItsOwnThread();
    void handsTheEventStoreToTheServer();

private:
    QTemporaryDir logDirectory;
};

void TestVelmoraNetworkThread::initTestCase()
{
    QVERIFY(logDirectory.isValid());
    QCOMPARE(VelmoraCommon_LogInit(logDirectory.path() + QLatin1Char('/'), kLogDebug), 1);
    registerVelmoraMsgType();
}

void TestVelmoraNetworkThread::workerLivesFromStartWorkerToTheEndOfTheLoop()
{
    VelmoraNetworkThread thread;
    StoppedAtExit stopper{thread};
    QVERIFY(!thread.worker());
    QCOMPARE(thread.connectionCount(), 0);

    thread.startWorker();
    QVERIFY(thread.worker());
    QCOMPARE(thread.worker()->thread(), &thread);

    thread.quit();
    QVERIFY(thread.wait(5000));
    QVERIFY(!thread.worker());
    QCOMPARE(thread.connectionCount(), 0);
}

void TestVelmoraNetworkThread::servesDevicesFromItsOwnThread()
{
    VelmoraNetworkThread thread;
    StoppedAtExit stopper{thread};
    thread.startWorker();
    VelmoraNetworkServer *server = thread.worker();
    Received received(server);
    const int port = freePort();

    for (int round = 0; round < 2; ++round) {
        received.lines.clear();
        startListening(server, QStringLiteral("0.0.0.0"), port);
        QTRY_VERIFY(received.lines.contains(QStringLiteral("[net] Server start listening 0.0.0.0:%1.").arg(port)));

        const auto device = connectDevice(port);
        QVERIFY(device);
        QTRY_COMPARE(thread.connectionCount(), 1);
        device->write(TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray()));
        QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
        QTRY_COMPARE(received.events.size(), round + 1);
        QCOMPARE(received.events.last().account, QStringLiteral("0A0B0C"));

        QMetaObject::invokeMethod(server, &VelmoraNetworkServer::stopSlot, Qt::QueuedConnection);
        QTRY_VERIFY(received.lines.contains(QStringLiteral("[net] Server stopped successfully.")));
        QVERIFY(received.lines.contains(QStringLiteral("[net] Closing tcp sockets Count (1).")));
        QCOMPARE(thread.connectionCount(), 0);
        QTRY_COMPARE(device->state(), QAbstractSocket::UnconnectedState);
    }

    thread.quit();
    QVERIFY(thread.wait(5000));
}

void TestVelmoraNetworkThread::handsTheEventStoreToTheServer()
{
    FakeEventStore store;
    store.failing = QStringLiteral("read-only file system");
    VelmoraNetworkThread thread;
    StoppedAtExit stopper{thread};
    thread.setEventStore(&store);
    thread.startWorker();
    Received received(thread.worker());
    const int port = freePort();
    startListening(thread.worker(), QStringLiteral("127.0.0.1"), port);
    QTRY_VERIFY(received.lines.contains(QStringLiteral("[net] Server start listening 127.0.0.1:%1.").arg(port)));

    auto device = connectDevice(port);
    QVERIFY(device);
    device->write(TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray()));
    QTRY_VERIFY(received.lines.join('\n').contains(QStringLiteral("read-only file system")));
}

QTEST_GUILESS_MAIN(TestVelmoraNetworkThread)
#include "tst_velmoranetworkthread.moc"
