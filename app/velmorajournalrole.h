#ifndef VELMORAJOURNALROLE_H
#define VELMORAJOURNALROLE_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class VelmoraClock;
class VelmoraCom;
class VelmoraDeviceStore;
class VelmoraEventStore;
class VelmoraSharedJournal;

// This instance's part in a journal shared in PostgreSQL: standby until it
// holds the lease, active while it does. It says each change in the window
// and the day log and tells start-up, which starts or stops the receiver
// and the line; the serial worker is told to take the store's events or to
// drop them. Made only when the configuration puts the journal in
// PostgreSQL.
class VelmoraJournalRole : public QObject
{
    Q_OBJECT

public:
    // A report in the window and the day log: the template (translated in
    // the window's context, %1 the program's name) and its arguments.
    using Report = std::function<void(const char *sourceText, bool isError, const QStringList &args)>;
    // A start-up failure nobody may miss: a box, or standard error.
    using Warn = std::function<void(const QString &text, bool alsoToDayLog)>;

    VelmoraJournalRole(VelmoraClock &clock, Report report, Warn warn, QObject *parent = nullptr);
    ~VelmoraJournalRole() override;

    // Starts competing for the lease; standby from here on. -1 ends
    // start-up, the reason said.
    int open(const QString &connectionString, const QString &applicationDirectory);

    VelmoraEventStore *eventStore() const;
    // The known devices' state in the same database; the caller owns it.
    std::unique_ptr<VelmoraDeviceStore> makeDeviceStore() const;
    // The serial worker is told to take the store's events when this
    // instance becomes active, and to drop them when it becomes standby.
    void setSerialWorker(VelmoraCom *com) { serialWorker = com; }
    // Whether the serial worker may send lines now; safe from any thread.
    std::function<bool()> outputGate() const;
    // Another instance holds the lease, or nobody does yet.
    bool isStandby() const { return standby; }

signals:
    // For the window.
    void standbyChangedSignal(bool standby);
    // For start-up: serve devices and drive the line, or stop both.
    void activeSignal();
    void standbySignal();

private:
    // The lease was taken, or lost.
    void becomeActive(int sentBefore);
    void becomeStandby(const QString &reason);
    void reportDatabase(bool lost, const QString &reason);

    VelmoraClock &clock;
    Report report;
    Warn warn;
    QString connection;
    // Lives as long as the threads that use its store, which is the process.
    VelmoraSharedJournal *sharedJournal = nullptr;
    VelmoraCom *serialWorker = nullptr;
    bool standby = true;
};

#endif // VELMORAJOURNALROLE_H
