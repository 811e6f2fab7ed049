#ifndef VELMORASHAREDJOURNAL_H
#define VELMORASHAREDJOURNAL_H

#include "velmoralease.h"

#include <QObject>
#include <QString>

#include <memory>

class VelmoraClock;
class VelmoraEventStore;

// The event journal in PostgreSQL, shared by every instance configured with
// the same database, and the lease that makes one of them active. A thread
// of its own asks for the lease while standby and renews it while active;
// it says when this instance became active (its store then holds every event
// not delivered) and when it must stop, at once, being so.
//
// Built with libpq where the build has it; elsewhere isAvailable() is false
// and start() says why.
class VelmoraSharedJournal : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraSharedJournal(VelmoraClock &clock, QObject *parent = nullptr);
    // Gives the lease up, so that a standby takes over without waiting for
    // it to expire.
    ~VelmoraSharedJournal() override;

    static bool isAvailable();

    // Before start(); tests shorten the lease.
    void setTiming(const VelmoraLease::Timing &timing);
    // Starts competing for the lease as owner. False with errorString() when
    // this build cannot, or the connection string is malformed; a database
    // that does not answer yet is asked again and again.
    bool start(const QString &connectionString, const QString &owner);
    QString errorString() const;

    // Null before start().
    VelmoraEventStore *store() const;
    // Whether this instance may acknowledge devices and send lines now;
    // safe from any thread.
    bool holdsLease() const;
    // Who competes for the lease, as given to start(), and the number of
    // the grant held now (0 when none): what a write in the database is
    // made on the condition of. Safe from any thread.
    QString owner() const;
    qint64 leaseEpoch() const;

signals:
    // This instance took the lease; the store holds every event not
    // delivered, of which sentBefore had been sent by the previous active
    // and may reach the monitoring software twice.
    void activeSignal(int sentBefore);
    // This instance is standby from now on, for this reason.
    void standbySignal(QString reason);
    // The database stopped answering (lost, with libpq's reason) or answers
    // again; told once per change.
    void databaseSignal(bool lost, QString reason);

private:
    class Worker;
    VelmoraClock &clock;
    VelmoraLease::Timing timing;
    QString lastError;
    std::unique_ptr<Worker> worker;
};

#endif // VELMORASHAREDJOURNAL_H
