#ifndef VELMORAPGEVENTSTORE_H
#define VELMORAPGEVENTSTORE_H

#include "velmoraeventstore.h"
#include "velmorapgmarkwriter.h"
#include "velmorapgschema.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

class VelmoraClock;
class VelmoraPgConnection;

// The event store kept in PostgreSQL, shared by every instance configured
// with the same database; only the one that holds the lease writes events.
//
// appendDurably() is one statement, hence one transaction, per call: the
// events are inserted only while the lease row still names this instance
// and its epoch (the row is locked for the statement, so a standby cannot
// take the lease half-way), and the call returns true only once the commit
// is answered and the lease is still trusted here. Nothing is acknowledged
// otherwise; the devices keep their events and send them again.
//
// Marks (sent, delivered, refused, requeued, released) never make a worker
// wait for the database: VelmoraPgMarkWriter queues them and writes them in
// order from a thread of its own. A mark lost with the process only sends
// its event once more after a takeover. Settled events are deleted, so the
// table follows the backlog, not the history.
//
// While active the store keeps a copy of the pending and set-aside events,
// loaded from the database at the takeover and kept up to date by this
// instance's own appends and marks; the serial worker's lists and the
// backlog limits' counts are answered from it without a round trip.
//
// Each thread that talks to the database has a connection of its own: the
// network worker's appends here, the marks' writer, and the lease's thread
// in VelmoraSharedJournal.
class VelmoraPgEventStore : public VelmoraEventStore
{
public:
    // The schema this program makes and reads; prepareSchema() brings an
    // older one up to it.
    static constexpr int kSchemaVersion = VelmoraPgSchema::kVersion;

    VelmoraPgEventStore(const QString &connectionString, const QString &owner, VelmoraClock &clock);
    ~VelmoraPgEventStore() override;

    // Creates the tables, or upgrades them, in one transaction that other
    // instances starting at the same time wait for. False with the reason,
    // also when the database was made by a newer program (VelmoraPgSchema).
    static bool prepareSchema(VelmoraPgConnection &connection, QString *error);

    // The lease as the lease's thread knows it: appends and lines are
    // allowed only while holdsLease().
    void grantLease(qint64 epoch, qint64 trustedUntilMs);
    void dropLease();
    bool holdsLease() const;
    // The epoch granted, 0 when dropped.
    qint64 leaseEpochHeld() const { return leaseEpoch.load(); }
    QString owner() const { return ownerName; }

    // At a takeover: this instance's own marks written first, then every
    // event not delivered read into the copy. sentBefore counts the pending
    // ones whose line had gone out already: they may reach the monitoring
    // software twice.
    bool loadHeld(int *sentBefore, qint64 timeoutMs);
    // At fencing: the copy is dropped, the database keeps the events.
    void clearHeld();

    // Told once when the database stops answering (with libpq's reason) and
    // once when it answers again; called from whichever thread noticed.
    using Report = std::function<void(bool lost, const QString &reason)>;
    void setReport(Report report);
    // Whether the database answered the last statement, from any of the
    // connections; a change is reported once.
    void noteDatabase(bool answered, const QString &reason);

    bool appendDurably(QVector<SVelmoraMsg> &events) override;
    QString errorString() const override;
    void markSent(qint64 journalId) override;
    void markDelivered(qint64 journalId) override;
    void markRefused(qint64 journalId) override;
    void markRequeued(qint64 journalId) override;
    void markReleased(qint64 journalId) override;
    QVector<SVelmoraMsg> pendingEvents() const override;
    QVector<SVelmoraMsg> setAsideEvents() const override;
    int pendingCount() const override;
    int pendingCountForDevice(const QString &deviceId) const override;
    bool heldEvent(qint64 journalId, SVelmoraMsg *event) const override;

    // Returns once every mark queued so far is written, or false at the
    // deadline; for an orderly end and for tests.
    bool flushMarks(qint64 timeoutMs);

    // How long an append may wait for its commit at most.
    static constexpr qint64 kAppendTimeoutMs = 5000;

private:
    using Mark = VelmoraPgMarkWriter::Mark;
    enum class State : quint8 { Pending, SetAside };
    struct HeldEvent
    {
        QByteArray body;
        QString deviceId;
        State state = State::Pending;
    };

    void setStateLocked(HeldEvent &held, State state);
    void addLocked(qint64 journalId, HeldEvent held);
    void removeLocked(std::map<qint64, HeldEvent>::iterator found);
    QVector<SVelmoraMsg> eventsLocked(State state) const;

    const QString connectionString;
    const QString ownerName;
    VelmoraClock &clock;

    std::atomic<qint64> leaseEpoch{0};
    std::atomic<qint64> leaseTrustedUntil{0};

    // The appends' connection, used by one caller at a time.
    std::mutex appendMutex;
    std::unique_ptr<VelmoraPgConnection> appendConnection;

    // The copy of the events, and the last error.
    mutable std::mutex heldMutex;
    std::map<qint64, HeldEvent> held;
    QHash<QString, int> pendingPerDevice;
    int pendingTotal = 0;
    int setAsideTotal = 0;
    QString lastError;

    std::mutex reportMutex;
    Report report;
    bool databaseLost = false;

    // The marks on their way to the database, with the thread and the
    // connection that write them. Last, so that it ends first: it reports
    // through noteDatabase().
    std::unique_ptr<VelmoraPgMarkWriter> markWriter;
};

#endif // VELMORAPGEVENTSTORE_H
