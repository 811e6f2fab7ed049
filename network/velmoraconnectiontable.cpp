#include "velmoraconnectiontable.h"

#include "velmorametrics.h"

#include "velmoraclock.h"
#include "velmorareceiverreport.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The sweep of waiting half frames runs this often compared with their
// time-out, so that none waits much longer than it.
constexpr int kHalfFrameChecksPerTimeout = 4;
constexpr int kMaxHalfFrameCheckMs = 1000;

bool acceptedEarlier(const SVelmoraClient *a, const SVelmoraClient *b)
{
    return a->acceptedOrder < b->acceptedOrder;
}

} // namespace

VelmoraConnectionTable::VelmoraConnectionTable(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse), halfFrameTimer(new VelmoraTimer(clockToUse, this))
{
    connect(halfFrameTimer, &VelmoraTimer::timeout, this, &VelmoraConnectionTable::expireHalfFrames);
}

VelmoraConnectionTable::~VelmoraConnectionTable() = default;

void VelmoraConnectionTable::setReporter(SVelmoraLogLine::Sink sink)
{
    report = std::move(sink);
}

SVelmoraClient &VelmoraConnectionTable::add(DeviceSocket *socket)
{
    auto client = std::make_unique<SVelmoraClient>();
    client->socket = socket;
    client->acceptedOrder = ++acceptedSoFar;
    SVelmoraClient &added = *client;
    clients[socket] = std::move(client);
    publishCount();
    return added;
}

SVelmoraClient *VelmoraConnectionTable::find(const DeviceSocket *socket) const
{
    const auto found = clients.find(socket);
    return found == clients.end() ? nullptr : found->second.get();
}

std::unique_ptr<SVelmoraClient> VelmoraConnectionTable::take(const DeviceSocket *socket)
{
    const auto found = clients.find(socket);
    if (found == clients.end())
        return nullptr;
    std::unique_ptr<SVelmoraClient> client = std::move(found->second);
    clients.erase(found);
    halfFrames.remove(client.get());
    publishCount();
    return client;
}

std::vector<std::unique_ptr<SVelmoraClient>> VelmoraConnectionTable::takeAll()
{
    std::vector<std::unique_ptr<SVelmoraClient>> taken;
    taken.reserve(clients.size());
    for (auto &entry : clients)
        taken.push_back(std::move(entry.second));
    clients.clear();
    halfFrames.clear();
    halfFrameTimer->stop();
    publishCount();
    std::sort(taken.begin(), taken.end(),
              [](const auto &a, const auto &b) { return acceptedEarlier(a.get(), b.get()); });
    return taken;
}

QVector<const SVelmoraClient *> VelmoraConnectionTable::inAcceptedOrder() const
{
    // Sorted by a copy of the key beside each record: with ten thousand
    // records, reading the key from each one at every comparison cost more
    // than the copy of the records that follows.
    std::vector<std::pair<quint64, const SVelmoraClient *>> keyed;
    keyed.reserve(clients.size());
    for (const auto &entry : clients)
        keyed.emplace_back(entry.second->acceptedOrder, entry.second.get());
    std::sort(keyed.begin(), keyed.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    QVector<const SVelmoraClient *> open;
    open.reserve(int(keyed.size()));
    for (const auto &entry : keyed)
        open << entry.second;
    return open;
}

void VelmoraConnectionTable::setHalfFrameTimeout(int milliseconds)
{
    halfFrameTimeoutMs = std::max(1, milliseconds);
}

void VelmoraConnectionTable::dropStaleHalfFrame(SVelmoraClient &client)
{
    if (client.halfFrameSince != 0 && clock.monotonicMs() - client.halfFrameSince >= halfFrameTimeoutMs)
        dropHalfFrame(&client);
}

void VelmoraConnectionTable::noteRead(SVelmoraClient &client, bool frameTaken)
{
    if (client.receiveBuffer.size() == 0) {
        client.halfFrameSince = 0;
        halfFrames.remove(&client);
        return;
    }
    // Bytes added to the frame already waiting do not restart its time.
    if (frameTaken || client.halfFrameSince == 0)
        client.halfFrameSince = std::max<qint64>(1, clock.monotonicMs());
    halfFrames.insert(&client);
    if (!halfFrameTimer->isActive())
        halfFrameTimer->start(std::min(kMaxHalfFrameCheckMs,
                                       std::max(1, halfFrameTimeoutMs / kHalfFrameChecksPerTimeout)));
}

void VelmoraConnectionTable::expireHalfFrames()
{
    const qint64 now = clock.monotonicMs();
    QVector<SVelmoraClient *> expired;
    for (SVelmoraClient *client : qAsConst(halfFrames)) {
        if (now - client->halfFrameSince >= halfFrameTimeoutMs)
            expired << client;
    }
    for (SVelmoraClient *client : qAsConst(expired))
        dropHalfFrame(client);
    if (halfFrames.isEmpty())
        halfFrameTimer->stop();
}

void VelmoraConnectionTable::dropHalfFrame(SVelmoraClient *client)
{
    const QByteArray bytes = client->receiveBuffer.takeAll();
    client->halfFrameSince = 0;
    halfFrames.remove(client);
    if (report)
        report(VelmoraReceiverReport::halfFrameExpired(client->peerAddress, client->peerPort, halfFrameTimeoutMs,
                                                       bytes));
}

void VelmoraConnectionTable::publishCount()
{
    count.store(int(clients.size()));
    VelmoraMetrics::instance().devicesConnected.set(qint64(clients.size()));
}
