#ifndef VELMORA_H
#define VELMORA_H

#include <QMainWindow>
#include <QString>

#include <memory>

class QAction;
class QCloseEvent;
class QLabel;
class QStatusBar;
class QTextEdit;
class QThread;
class QTimer;
class QToolBar;
class VelmoraComThread;
class VelmoraConfWidget;
class VelmoraDevicesWindow;
class VelmoraEventJournal;
class VelmoraEventsWindow;
class VelmoraInstanceLock;
class VelmoraJournalDamageNotice;
class VelmoraNetworkThread;
class VelmoraServiceWatchdog;
class VelmoraStatusEndpoint;

// The main window: toolbar with Settings and Exit, logo and about text, the
// log pane that every part of the program reports to, and a status bar with
// the number of connected devices and of events not yet acknowledged by the
// monitoring software. init() starts the whole program.
class Velmora : public QMainWindow
{
    Q_OBJECT

public:
    explicit Velmora(QWidget *parent = nullptr);
    ~Velmora() override;

    // The start-up sequence. 1 when the program runs and the window is shown,
    // -1 at the first failing step (the window then stays hidden).
    int init();

    // The directory that holds log/, conf/ and spool/: the executable's
    // directory unless set otherwise before init().
    void setApplicationDirectory(const QString &directory);
    QString applicationDirectory() const { return appDirectory; }

    // Whether a start-up failure is shown in a warning box. Off on the
    // offscreen platform, where nobody could answer the box: the text goes to
    // standard error and the day log instead, and start-up ends at once.
    void setStartupBoxesShown(bool shown);
    bool startupBoxesShown() const { return startupBoxes; }

    int initGui();
    int createToolBar();
    int createLogPane();
    int createStatusBar();
    void showMainWindow();

    // 1, or -1 when called in the wrong state (a second create, a start
    // before the create).
    int createComThread();
    int startComThread();
    int createNetworkThread();
    int startNetworkThread();

    // The thread objects and the journal live as long as the process: they
    // are created once and never deleted, because the process ends while the
    // threads run.
    VelmoraNetworkThread *networkWorkerThread() const { return networkThread; }
    VelmoraComThread *comWorkerThread() const { return comThread; }
    VelmoraEventJournal *eventJournal() const { return journal; }
    VelmoraStatusEndpoint *statusEndpoint() const { return endpoint; }

    VelmoraConfWidget *confPanel() const { return confWidget; }
    QToolBar *mainToolBar() const { return toolBar; }
    QAction *settingsAction() const { return confAction; }
    QAction *quitAction() const { return exitAction; }
    QAction *devicesWindowAction() const { return devicesAction; }
    // Null until the Devices action is first used.
    VelmoraDevicesWindow *devicesPanel() const { return devicesWindow; }
    QLabel *connectionsText() const { return connectionsLabel; }
    QLabel *heldEventsText() const { return heldEventsLabel; }
    // The line's state as the serial worker last reported it.
    QLabel *lineStateText() const { return lineStateLabel; }
    // Null unless the journal was found damaged at start.
    VelmoraJournalDamageNotice *journalDamageReport() const { return journalDamageNotice; }
    QAction *heldEventsAction() const { return eventsAction; }
    // Null until the Events action is first used.
    VelmoraEventsWindow *heldEventsWindow() const { return eventsWindow; }
    QLabel *aboutText() const { return aboutLabel; }
    static QTextEdit *logView();
    static int logViewLineCount();
    // Shows the lines still waiting for the pane's next batch.
    static void flushLogView();

signals:
    void networkStartSignal();
    void networkStopSignal();
    void comStartSignal();
    void comStopSignal();

public slots:
    void comStopSlot();
    // The port opened; a receiver stopped for it starts again.
    void comReadySlot();
    void on_exitSlot();
    void on_confSlot();
    // Shows the Events window, made on first use.
    void on_eventsSlot();
    void onQuitSlot();
    void Put2Log(QString str);
    void confSlot();
    void timeoutSlot();
    // The Devices action: shows the devices window, made on first use.
    void on_devicesSlot();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int openEventJournal();
    // Retention, compression and the free-space floor of the day logs, on
    // a thread of their own.
    void startLogHousekeeping(const QString &logDirectory);
    // A damaged journal found at open: one log line, and the status bar
    // shows it until the operator acknowledges it.
    void reportJournalDamage();
    // The status endpoint and the systemd notifications, wired to the workers.
    void startStatusEndpoint();
    void addDevicesAction();
    // 1 when this process is the only one using the application directory.
    int lockApplicationDirectory();
    // The configuration step: read, or defaults written. -1 ends start-up.
    int loadConfiguration();
    // A box, or without one the text on standard error (and the day log).
    void showStartupWarning(const QString &text, bool alsoToDayLog);
    // A start-up failure: translated on screen, in English in the day log.
    void reportFailure(const char *sourceText);

    VelmoraNetworkThread *networkThread = nullptr;
    VelmoraComThread *comThread = nullptr;
    VelmoraEventJournal *journal = nullptr;
    VelmoraStatusEndpoint *endpoint = nullptr;
    // Process-lifetime, like the threads it watches.
    VelmoraServiceWatchdog *watchdog = nullptr;
    QToolBar *toolBar = nullptr;
    QAction *confAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *devicesAction = nullptr;
    VelmoraDevicesWindow *devicesWindow = nullptr;
    VelmoraConfWidget *confWidget = nullptr;
    QStatusBar *mainStatusBar = nullptr;
    QTimer *updateTimer = nullptr;
    QLabel *connectionsLabel = nullptr;
    QLabel *heldEventsLabel = nullptr;
    QLabel *lineStateLabel = nullptr;
    QAction *eventsAction = nullptr;
    VelmoraEventsWindow *eventsWindow = nullptr;
    QLabel *aboutLabel = nullptr;
    QString appDirectory;
    bool startupBoxes = true;
    // The receiver was stopped because the port would not open.
    bool receiverStoppedForPort = false;
    std::unique_ptr<VelmoraInstanceLock> instanceLock;
    QThread *logHousekeepingThread = nullptr;
    VelmoraJournalDamageNotice *journalDamageNotice = nullptr;
};

#endif // VELMORA_H
