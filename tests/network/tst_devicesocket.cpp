// A device connection on its own descriptor against a real peer on
// loopback: replies the system cannot take at once, a peer that hangs up or
// resets, writing to a peer that has gone.

#include "devicesocket.h"
#include "listeningsocket.h"
#include "networktesthelpers.h"
#include "socketio.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

constexpr int kWaitMs = 10000;

// A connected pair: the peer as a device would be, the socket as the
// receiver holds it.
struct Pair
{
    std::unique_ptr<QTcpSocket> peer;
    std::unique_ptr<DeviceSocket> socket;
};

Pair connectPair()
{
    Pair pair;
    QString error;
    const auto port = static_cast<quint16>(NetworkTest::freePort());
    const qintptr listener = ListeningSocket::open(QStringLiteral("127.0.0.1"), port, &error);
    if (listener < 0)
        return pair;
    pair.peer = std::make_unique<QTcpSocket>();
    pair.peer->connectToHost(QHostAddress::LocalHost, port);
    qintptr accepted = -1;
    const bool taken = QTest::qWaitFor(
        [&] { return SocketIo::accept(listener, &accepted).status == SocketIo::Status::Done; }, kWaitMs);
    ListeningSocket::close(listener);
    if (taken)
        pair.socket = std::make_unique<DeviceSocket>(accepted);
    return pair;
}

QByteArray pattern(int size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + seed) & 0xff);
    return bytes;
}

} // namespace

class TestDeviceSocket : public QObject
{
    Q_OBJECT

private slots:
    void repliesTheSystemCannotTakeAtOnceArriveWholeAndInOrder();
    void peerLeavingEndsTheConnectionOnTheNextRead_data();
    void peerLeavingEndsTheConnectionOnTheNextRead();
};

void TestDeviceSocket::repliesTheSystemCannotTakeAtOnceArriveWholeAndInOrder()
{
    Pair pair = connectPair();
    QVERIFY(pair.socket);
    int reads = 0;
    connect(pair.socket.get(), &DeviceSocket::readyRead, this, [&] {
        char buffer[4096];
        while (pair.socket->read(buffer, sizeof buffer) > 0)
            ++reads;
    });
    QVERIFY(pair.peer->waitForConnected(kWaitMs));

    // The peer reads nothing until the system's buffers are full and more
    // than the socket's limit waits in it.
    pair.peer->setReadBufferSize(1);
    QByteArray sent;
    for (int chunk = 0; pair.socket->bytesToWrite() <= DeviceSocket::kMaxWaitingBytes; ++chunk) {
        QVERIFY2(chunk < 4096, "the system took 256 MB without a reader");
        const QByteArray bytes = pattern(65536, chunk);
        QVERIFY(pair.socket->write(bytes));
        sent += bytes;
    }
    // Meanwhile what the peer sends is left unread.
    pair.peer->write("frame");
    QVERIFY(pair.peer->waitForBytesWritten(kWaitMs));
    QTest::qWait(100);
    QCOMPARE(reads, 0);

    QByteArray received;
    pair.peer->setReadBufferSize(0);
    QVERIFY(QTest::qWaitFor(
        [&] {
            received += pair.peer->readAll();
            return received.size() >= sent.size();
        },
        kWaitMs));
    QCOMPARE(received.size(), sent.size());
    QVERIFY(received == sent);
    QCOMPARE(pair.socket->bytesToWrite(), 0);
    // Once the replies are out, the device is read again.
    QVERIFY(QTest::qWaitFor([&] { return reads > 0; }, kWaitMs));
    QVERIFY(pair.socket->isOpen());
}

void TestDeviceSocket::peerLeavingEndsTheConnectionOnTheNextRead_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("hang-up") << false;
    // Not every system reports a reset as readable by itself (Wine does
    // not): there the reply written to the gone device brings it out.
    QTest::newRow("reset, then a reply") << true;
}

void TestDeviceSocket::peerLeavingEndsTheConnectionOnTheNextRead()
{
    QFETCH(bool, reset);
    Pair pair = connectPair();
    QVERIFY(pair.socket);
    QVERIFY(pair.peer->waitForConnected(kWaitMs));
    // Closing with bytes left unread in the system makes it reset the
    // connection; the peer takes one byte at a time from it.
    pair.peer->setReadBufferSize(1);
    QVERIFY(pair.socket->write("mac request"));
    QVERIFY(pair.peer->waitForReadyRead(kWaitMs));
    if (reset) {
        pair.peer->abort();
        QTest::qWait(50);
        pair.socket->write("reply");
    } else {
        pair.peer->setReadBufferSize(0);
        QVERIFY(QTest::qWaitFor([&] { return pair.peer->readAll().endsWith('t'); }, kWaitMs));
        pair.peer->disconnectFromHost();
    }

    bool ended = false;
    connect(pair.socket.get(), &DeviceSocket::readyRead, this, [&] {
        char buffer[64];
        pair.socket->read(buffer, sizeof buffer);
        ended = !pair.socket->isOpen();
    });
    QVERIFY(QTest::qWaitFor([&] { return ended; }, kWaitMs));
    QVERIFY(!pair.socket->errorString().isEmpty());
    QVERIFY(!pair.socket->write("too late"));
    QVERIFY(!pair.socket->isOpen());
    char buffer[8];
    QCOMPARE(pair.socket->read(buffer, sizeof buffer), 0);
}

QTEST_GUILESS_MAIN(TestDeviceSocket)
#include "tst_devicesocket.moc"
