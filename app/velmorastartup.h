#ifndef VELMORASTARTUP_H
#define VELMORASTARTUP_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;
class QTimer;
class Velmora;
class VelmoraClock;
class VelmoraComThread;
class VelmoraDeviceStore;
class VelmoraEventJournal;
class VelmoraEventStore;
class VelmoraApplicationFolder;
class VelmoraJournalRole;
class VelmoraNetworkThread;
class VelmoraServiceWatchdog;
class VelmoraStatusEndpoint;

// The program's composition root: run() opens the day log, locks the
// application directory, reads the configuration, opens the journal,
// starts the serial and the network workers and makes every connection
// between them and the window, in the order each depends on the one
// before. Nothing else in the program builds a part of it.
class VelmoraStartup : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraStartup(Velmora &window, VelmoraClock &clock, QObject *parent = nullptr);
    ~VelmoraStartup() override;

    // The directory that holds log/, conf/ and spool/: the executable's
    // directory unless set otherwise before run().
    void setApplicationDirectory(const QString &directory);
    QString applicationDirectory() const { return appDirectory; }

    // Whether a start-up failure is shown in a warning box. Off on the
    // offscreen platform, where nobody could answer the box: the text goes to
    // standard error and the day log instead, and start-up ends at once.
    void setStartupBoxesShown(bool shown);
    bool startupBoxesShown() const { return startupBoxes; }

    // 1 when the program runs and the window is shown, -1 at the first
    // failing step (the window then stays hidden).
    int run();

    // The thread objects and the journal live as long as the process: they
    // are created once and never deleted, because the process ends while the
    // threads run.
    VelmoraNetworkThread *networkWorkerThread() const { return networkThread; }
    VelmoraComThread *comWorkerThread() const { return comThread; }
    // The journal in spool/; null when the configuration puts it in
    // PostgreSQL, or before run().
    VelmoraEventJournal *eventJournal() const { return journal; }
    // The store the workers use, whichever it is.
    VelmoraEventStore *eventStore() const { return store; }
    // Null until run() made it.
    VelmoraStatusEndpoint *statusEndpoint() const { return endpoint; }

signals:
    // Requests to the worker threads, each connected once in run().
    void networkStartSignal();
    void networkStopSignal();
    void comStartSignal();
    void comStopSignal();

private:
    // The journal in PostgreSQL, with its lease; -1 ends start-up. The
    // receiver and the line follow the lease.
    int openSharedJournal(const QString &connectionString);
    // Another instance holds the shared journal's lease.
    bool isStandby() const;
    // Listening and the line's port, unless this instance is standby.
    void startServing();
    // A damaged journal found at open: one log line, and the window shows it.
    void reportJournalDamage();
    // The status endpoint and the systemd notifications.
    void startStatusEndpoint();
    // Held-event lists are wanted while the Events window or the status
    // endpoint wants them.
    void setHeldRowsWanted(bool byWindow, bool wanted);
    int startComThread();
    int startNetworkThread();
    // Every connection between the workers, the window and this object.
    void wire();
    // The serial and the network worker take the configuration as it is now.
    void applyComSettings();
    // The network worker takes the device settings and reads the device
    // list again.
    void configureDevices();
    QString deviceListPath() const;
    void listen();
    // New settings from the panel: both workers start again with them.
    void applySettings();
    // The serial side could not open its port: devices are not served until
    // it opens, on one of its own retries or after new settings.
    void comStopped();
    void comReady();
    // The service manager's READY=1 and STATUS= need to know when the
    // receiver does not listen on purpose (a standby, a closed port) and why.
    void tellWhyNotListening();
    void showStatus();

    // One report in both places: translated in the window, in English in the
    // day log (as an error when isError).
    void report(const char *sourceText, bool isError, const QStringList &args = QStringList());
    // A box, or without one the text on standard error (and the day log).
    void showStartupWarning(const QString &text, bool alsoToDayLog);

    Velmora &window;
    VelmoraClock &clock;
    QString appDirectory;
    bool startupBoxes = true;
    VelmoraNetworkThread *networkThread = nullptr;
    VelmoraComThread *comThread = nullptr;
    VelmoraEventJournal *journal = nullptr;
    // Used by the network thread; the program ends without destroying it,
    // a start-up dropped after its threads stopped (as tests do) frees it.
    std::unique_ptr<VelmoraDeviceStore> deviceStore;
    // Null unless the journal is in PostgreSQL.
    VelmoraJournalRole *journalRole = nullptr;
    VelmoraEventStore *store = nullptr;
    QTimer *statusTimer = nullptr;
    VelmoraApplicationFolder *folder = nullptr;
    VelmoraStatusEndpoint *endpoint = nullptr;
    // Process-lifetime, like the threads it watches.
    VelmoraServiceWatchdog *watchdog = nullptr;
    bool windowWantsHeldRows = false;
    bool endpointWantsHeldRows = false;
    // The receiver was stopped because the port would not open.
    bool receiverStoppedForPort = false;
    // Why the serial port is closed, as the serial worker last said.
    QString portClosedReason;
};

#endif // VELMORASTARTUP_H
