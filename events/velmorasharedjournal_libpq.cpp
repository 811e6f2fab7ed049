#include "velmorasharedjournal.h"

#include "velmoraclock.h"
#include "velmorametrics.h"
#include "velmorapgconnection.h"
#include "velmorapgeventstore.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

const char kAcquireSql[] =
    "UPDATE lumari_lease SET owner = $1, epoch = epoch + 1,"
    "  expires_at = clock_timestamp() + $2 * interval '1 millisecond'"
    " WHERE id = 1 AND expires_at <= clock_timestamp() RETURNING epoch";
const char kRenewSql[] =
    "UPDATE lumari_lease SET expires_at = clock_timestamp() + $3 * interval '1 millisecond'"
    " WHERE id = 1 AND owner = $1 AND epoch = $2 AND expires_at > clock_timestamp() RETURNING epoch";
const char kReleaseSql[] =
    "UPDATE lumari_lease SET owner = '', expires_at = '-infinity' WHERE id = 1 AND owner = $1 AND epoch = $2";

// The lease's thread looks at the time this often between requests.
constexpr int kTickMs = 50;
constexpr qint64 kReleaseTimeoutMs = 2000;

} // namespace

// The lease's thread: the only user of its connection and of the lease.
class VelmoraSharedJournal::Worker
{
public:
    Worker(VelmoraSharedJournal &journal, const QString &connectionString, const QString &owner)
        : journal(journal),
          lease(journal.timing),
          connection(connectionString),
          store(connectionString, owner, journal.clock),
          owner(owner.toUtf8())
    {
        store.setReport([this](bool lost, const QString &reason) { emit this->journal.databaseSignal(lost, reason); });
        thread = std::thread(&Worker::run, this);
    }

    ~Worker()
    {
        {
            const std::lock_guard<std::mutex> locker(mutex);
            stopping = true;
        }
        wake.notify_all();
        thread.join();
    }

    VelmoraSharedJournal &journal;
    VelmoraLease lease;
    VelmoraPgConnection connection;
    VelmoraPgEventStore store;
    const QByteArray owner;

private:
    void run()
    {
        std::unique_lock<std::mutex> locker(mutex);
        while (!stopping) {
            locker.unlock();
            step();
            locker.lock();
            wake.wait_for(locker, std::chrono::milliseconds(kTickMs), [this] { return stopping; });
        }
        locker.unlock();
        if (lease.isActive()) {
            store.dropLease();
            connection.exec(kReleaseSql, {owner, QByteArray::number(lease.epoch())}, kReleaseTimeoutMs);
        }
    }

    void step()
    {
        const qint64 now = journal.clock.monotonicMs();
        switch (lease.due(now)) {
        case VelmoraLease::Step::Wait:
            return;
        case VelmoraLease::Step::Fence:
            fence(now, QStringLiteral("the lease could not be renewed before it expired"));
            return;
        case VelmoraLease::Step::Acquire:
            acquire(now);
            return;
        case VelmoraLease::Step::Renew:
            renew(now);
            return;
        }
    }

    void acquire(qint64 now)
    {
        lease.requestSent(now);
        if (!schemaReady) {
            QString error;
            schemaReady = connection.open() && VelmoraPgEventStore::prepareSchema(connection, &error);
            if (!schemaReady) {
                store.noteDatabase(false, error.isEmpty() ? connection.errorString() : error);
                return;
            }
        }
        const VelmoraPgConnection::Result result = connection.exec(
            kAcquireSql, {owner, QByteArray::number(lease.timing().durationMs)}, lease.requestDeadline(now) - now);
        if (!result.ok) {
            store.noteDatabase(false, result.error);
            return;
        }
        store.noteDatabase(true, QString());
        if (result.rows.size() != 1)
            return;
        const qint64 answered = journal.clock.monotonicMs();
        if (!lease.granted(result.rows.first().first().toLongLong(), answered))
            return;
        store.grantLease(lease.epoch(), lease.trustedUntilMs());
        // Every event not delivered, before the workers are told: they take
        // them from the store.
        int sentBefore = 0;
        if (!store.loadHeld(&sentBefore, lease.trustedUntilMs() - answered)) {
            fence(journal.clock.monotonicMs(), store.errorString());
            return;
        }
        VelmoraMetrics::instance().takeovers.add();
        VelmoraMetrics::instance().eventsPossiblyTwice.add(std::uint64_t(sentBefore));
        VelmoraMetrics::instance().standby.set(0);
        emit journal.activeSignal(sentBefore);
    }

    void renew(qint64 now)
    {
        lease.requestSent(now);
        const VelmoraPgConnection::Result result =
            connection.exec(kRenewSql,
                            {owner, QByteArray::number(lease.epoch()), QByteArray::number(lease.timing().durationMs)},
                            lease.requestDeadline(now) - now);
        const qint64 answered = journal.clock.monotonicMs();
        if (!result.ok) {
            store.noteDatabase(false, result.error);
            fence(answered, QStringLiteral("the lease could not be renewed: ") + result.error);
            return;
        }
        if (result.rows.size() != 1) {
            fence(answered, QStringLiteral("the lease was taken by another instance"));
            return;
        }
        // granted() tells only of a standby becoming active; a renewal holds
        // when the lease is still active after it.
        lease.granted(result.rows.first().first().toLongLong(), answered);
        if (!lease.isActive()) {
            fence(answered, QStringLiteral("the lease's renewal came back too late"));
            return;
        }
        store.grantLease(lease.epoch(), lease.trustedUntilMs());
    }

    // Not sure of the lease any more: nothing is acknowledged or sent from
    // this moment on (the store and the output gate see it at once), then
    // the workers are told to stop.
    void fence(qint64 now, const QString &reason)
    {
        store.dropLease();
        lease.lost(now);
        VelmoraMetrics::instance().standby.set(1);
        emit journal.standbySignal(reason);
    }

    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    bool schemaReady = false;
    std::thread thread;
};

VelmoraSharedJournal::VelmoraSharedJournal(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse)
{
}

VelmoraSharedJournal::~VelmoraSharedJournal() = default;

bool VelmoraSharedJournal::isAvailable()
{
    return true;
}

void VelmoraSharedJournal::setTiming(const VelmoraLease::Timing &value)
{
    timing = value;
}

bool VelmoraSharedJournal::start(const QString &connectionString, const QString &owner)
{
    if (!VelmoraPgConnection::checkConnectionString(connectionString, &lastError))
        return false;
    VelmoraMetrics::instance().standby.set(1);
    worker = std::make_unique<Worker>(*this, connectionString, owner);
    return true;
}

QString VelmoraSharedJournal::errorString() const
{
    return lastError;
}

VelmoraEventStore *VelmoraSharedJournal::store() const
{
    return worker ? &worker->store : nullptr;
}

bool VelmoraSharedJournal::holdsLease() const
{
    return worker && worker->store.holdsLease();
}

QString VelmoraSharedJournal::owner() const
{
    return worker ? worker->store.owner() : QString();
}

qint64 VelmoraSharedJournal::leaseEpoch() const
{
    return worker ? worker->store.leaseEpochHeld() : 0;
}
