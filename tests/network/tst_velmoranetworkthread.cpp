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

// What the thread's signals carried, collected in the test's own thread:
// the thread emits them in its own, so they arrive here queued.
struct Received : QObject
{
    QStringList lines;
    QList<SVelmoraMsg> events;

    explicit Received(VelmoraNetworkThread &thread)
    {
        connect(&thread, &VelmoraNetworkThread::logSignal, this,
                [this](const QString &line) { lines.append(line); });
        connect(&thread, &VelmoraNetworkThread::msgSignal, this,
                [this](const SVelmoraMsg &msg) { events.append(msg); });
    }
};

} // namespace

class TestVelmoraNetworkThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startRequestBeforeTheServerExistsIsIgnored();
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

void TestVelmoraNetworkThread::startRequestBeforeTheServerExistsIsIgnored()
{
    VelmoraNetworkThread thread;
    StoppedAtExit stopper{thread};
    QSignalSpy startSpy(&thread, &VelmoraNetworkThread::startSignal);
    thread.setAddress(QStringLiteral("127.0.0.1"));
    thread.setPort(freePort());

    thread.networkStartSlot();
    QCOMPARE(startSpy.count(), 0);
    QCOMPARE(thread.connectionCount(), 0);
    QVERIFY(!thread.waitUntilReady(10));

    // The window waits for the server before its first start request.
    thread.start();
    QVERIFY(thread.waitUntilReady());
    QVERIFY(thread.networkServer);
    thread.networkStartSlot();
    QCOMPARE(startSpy.count(), 1);

    thread.quit();
    QVERIFY(thread.wait(5000));
    QVERIFY(!thread.networkServer);
}

void TestVelmoraNetworkThread::servesDevicesFromItsOwnThread()
{
    VelmoraNetworkThread thread;
    StoppedAtExit stopper{thread};
    Received received(thread);
    const int port = freePort();
    thread.setAddress(QStringLiteral("0.0.0.0"));
    thread.setPort(port);
    thread.start();
    QVERIFY(thread.waitUntilReady());

    for (int round = 0; round < 2; ++round) {
        received.lines.clear();
        thread.networkStartSlot();
        QTRY_VERIFY(received.lines.contains(QStringLiteral("[net] Server start listening 0.0.0.0:%1.").arg(port)));

        const auto device = connectDevice(port);
        QVERIFY(device);
        QTRY_COMPARE(thread.connectionCount(), 1);
        device->write(TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray()));
        QCOMPARE(readReply(device.get()), VelmoraFrame::ack({0x0A, 0x0B, 0x0C}));
        QTRY_COMPARE(received.events.size(), round + 1);
        QCOMPARE(received.events.last().account, QStringLiteral("0A0B0C"));
        QCOMPARE(thread.networkServer->thread(), &thread);

        thread.networkStopSlot();
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
    Received received(thread);
    const int port = freePort();
    thread.setAddress(QStringLiteral("127.0.0.1"));
    thread.setPort(port);
    thread.setEventStore(&store);
    thread.start();
    QVERIFY(thread.waitUntilReady());
    thread.networkStartSlot();
    QTRY_VERIFY(received.lines.contains(QStringLiteral("[net] Server start listening 127.0.0.1:%1.").arg(port)));

    auto device = connectDevice(port);
    QVERIFY(device);
    device->write(TestFrames::frame(QByteArray::fromHex("0A0B0C"), 0x0003, QByteArray()));
    QTRY_VERIFY(received.lines.join('\n').contains(QStringLiteral("read-only file system")));
}

QTEST_GUILESS_MAIN(TestVelmoraNetworkThread)
#include "tst_velmoranetworkthread.moc"
