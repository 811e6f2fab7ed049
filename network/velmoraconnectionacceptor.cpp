#include "velmoraconnectionacceptor.h"

#include "velmorametrics.h"

#include "listeningsocket.h"
#include "socketio.h"
#include "velmoraclock.h"
#include "velmoraconnectiontable.h"
#include "velmoralog.h"
#include "velmorareceiverreport.h"

#include <QSocketNotifier>

#include <algorithm>

namespace {

constexpr int kMaxAcceptsInOnePass = 1024;
// Port 0 would ask the system for any free port, which no device knows.
constexpr int kMinPort = 1;
constexpr int kMaxPort = 65535;

} // namespace

VelmoraConnectionAcceptor::VelmoraConnectionAcceptor(VelmoraClock &clock, const VelmoraConnectionTable &openTable,
                                                     QObject *parent)
    : QObject(parent), table(openTable), acceptPauseTimer(new VelmoraTimer(clock, this))
{
    acceptPauseTimer->setSingleShot(true);
    connect(acceptPauseTimer, &VelmoraTimer::timeout, this, &VelmoraConnectionAcceptor::resume);
}

VelmoraConnectionAcceptor::~VelmoraConnectionAcceptor()
{
    close();
}

void VelmoraConnectionAcceptor::setReporter(SVelmoraLogLine::Sink sink)
{
    report = std::move(sink);
}

void VelmoraConnectionAcceptor::setAcceptPause(int milliseconds)
{
    acceptPauseMs = std::max(1, milliseconds);
}

void VelmoraConnectionAcceptor::setConnectionLimit(int limit)
{
    connectionLimit = std::max(0, limit);
}

bool VelmoraConnectionAcceptor::listen(const QString &listenAddress, int listenPort)
{
    close();
    atConnectionLimit = false;
    address = listenAddress;
    port = listenPort;
    if (port >= kMinPort && port <= kMaxPort) {
        QString reason;
        listenDescriptor = ListeningSocket::open(address, static_cast<quint16>(port), &reason);
    }
    if (listenDescriptor < 0) {
        report(VelmoraReceiverReport::unableToListen(address, port));
        return false;
    }
    listenNotifier = new QSocketNotifier(listenDescriptor, QSocketNotifier::Read, this);
    connect(listenNotifier, &QSocketNotifier::activated, this, &VelmoraConnectionAcceptor::acceptPending);
    report(VelmoraReceiverReport::listening(address, port));
    VelmoraMetrics::instance().receiverListening.set(1);
    return true;
}

void VelmoraConnectionAcceptor::close()
{
    if (listenNotifier) {
        // It may be the notifier whose signal runs now.
        listenNotifier->setEnabled(false);
        listenNotifier->deleteLater();
        listenNotifier = nullptr;
    }
    ListeningSocket::close(listenDescriptor);
    listenDescriptor = -1;
    acceptPauseTimer->stop();
    refusing = false;
}

void VelmoraConnectionAcceptor::connectionLeft()
{
    if (!atConnectionLimit || table.size() >= connectionLimit)
        return;
    atConnectionLimit = false;
    resume();
    // Not left to the listener's notifier alone: a connection that was
    // already waiting may bring no new signal on every system.
    QMetaObject::invokeMethod(this, &VelmoraConnectionAcceptor::acceptPending, Qt::QueuedConnection);
}

void VelmoraConnectionAcceptor::acceptPending()
{
    const VelmoraLogBatch logBatch;
    // The connections waiting are taken from the system first, then given
    // their records and lines, then their MAC requests: when thousands of
    // devices reconnect at once, the system's queue of connections waiting
    // to be taken (as long as its somaxconn) is emptied in a few
    // milliseconds and does not overflow, and a device whose connection
    // overflowed it waits a second or more for its system to try again. At
    // most kMaxAcceptsInOnePass in one pass of the event loop, so that the
    // devices already connected are read in between; the rest wake the
    // listener again.
    QVector<qintptr> taken;
    while (listenDescriptor >= 0 && taken.size() < kMaxAcceptsInOnePass) {
        if (connectionLimit > 0 && table.size() + taken.size() >= connectionLimit) {
            atConnectionLimit = true;
            refuse(QStringLiteral("%1 connections, the most the open-file limit leaves room for")
                       .arg(connectionLimit));
            break;
        }
        qintptr descriptor = -1;
        const SocketIo::Result accepted = SocketIo::accept(listenDescriptor, &descriptor);
        if (accepted.status == SocketIo::Status::WouldBlock)
            break;
        if (accepted.status != SocketIo::Status::Done) {
            if (!SocketIo::isOutOfResources(accepted.error))
                continue; // that one connection failed; the next may not
            // Without a descriptor for it, the connection still waiting
            // would wake the listener again at once, so it rests first.
            refuse(SocketIo::errorText(accepted.error));
            acceptPauseTimer->start(acceptPauseMs);
            break;
        }
        taken.append(descriptor);
    }
    if (taken.isEmpty())
        return;
    if (refusing) {
        refusing = false;
        report(VelmoraReceiverReport::acceptingAgain(address, port, table.size()));
    }
    emit connectionsTaken(taken);
}

void VelmoraConnectionAcceptor::refuse(const QString &reason)
{
    if (listenNotifier)
        listenNotifier->setEnabled(false);
    if (!refusing) {
        refusing = true;
        report(VelmoraReceiverReport::refusing(address, port, reason, table.size()));
    }
}

void VelmoraConnectionAcceptor::resume()
{
    if (listenNotifier)
        listenNotifier->setEnabled(true);
}
