#ifndef VELMORA_H
#define VELMORA_H

#include "svelmoradevicesnapshot.h"
#include "svelmoraheldrow.h"
#include "svelmoralinestate.h"
#include "velmoraeventjournal.h"

#include <QMainWindow>
#include <QString>

#include <functional>

class QAction;
class QCloseEvent;
class QLabel;
class QPushButton;
class QStatusBar;
class QTextEdit;
class QToolBar;
class VelmoraConfWidget;
class VelmoraDevicesWindow;
class VelmoraEventsWindow;
class VelmoraClock;
class VelmoraJournalDamageNotice;
class VelmoraLineAlert;

// The main window: toolbar with Settings, Events, Devices and Exit, logo and
// about text, the log pane that every part of the program reports to, and a
// status bar with the number of connected devices, of events not yet
// acknowledged by the monitoring software and the line's state. It builds
// nothing of the program: VelmoraStartup feeds it and listens to it.
class Velmora : public QMainWindow
{
    Q_OBJECT

public:
    explicit Velmora(QWidget *parent = nullptr);
    ~Velmora() override;

    // The directory the settings panel writes conf/ in.
    void setApplicationDirectory(const QString &directory);
    QString applicationDirectory() const { return appDirectory; }

    // Toolbar, log pane and status bar; 1 when made.
    int initGui();
    void showMainWindow();

    VelmoraConfWidget *confPanel() const { return confWidget; }
    QToolBar *mainToolBar() const { return toolBar; }
    QAction *settingsAction() const { return confAction; }
    QAction *quitAction() const { return exitAction; }
    QAction *devicesWindowAction() const { return devicesAction; }
    // Null until the Devices action is first used.
    VelmoraDevicesWindow *devicesPanel() const { return devicesWindow; }
    QLabel *connectionsText() const { return connectionsLabel; }
    QLabel *heldEventsText() const { return heldEventsLabel; }
    QLabel *deviceTroubleText() const { return deviceTroubleLabel; }
    // The line's state as the serial worker last reported it.
    QLabel *lineStateText() const { return lineStateLabel; }
    QAction *heldEventsAction() const { return eventsAction; }
    // Null until the Events action is first used.
    VelmoraEventsWindow *heldEventsWindow() const { return eventsWindow; }
    QLabel *aboutText() const { return aboutLabel; }
    // Null unless a damaged journal was reported at start.
    VelmoraJournalDamageNotice *journalDamageReport() const { return journalDamageNotice; }
    // The red banner and its sound while alarms do not get through; off
    // until enabled (the start-up does, except on the offscreen platform).
    void enableLineAlert(VelmoraClock &clock, std::function<void()> beep);
    VelmoraLineAlert *lineAlert() const { return alert; }
    QWidget *alertBanner() const { return alertBannerWidget; }
    QLabel *alertText() const { return alertLabel; }
    QPushButton *silenceButton() const { return silencePushButton; }
    // The status bar's texts, as the status page repeats them: connections,
    // held events, line, absent and refused devices, standby.
    QStringList statusTexts() const;
    static QTextEdit *logView();
    static int logViewLineCount();
    // Shows the lines still waiting for the pane's next batch.
    static void flushLogView();

signals:
    // The settings panel wrote new settings: the workers start again with them.
    void settingsAppliedSignal();
    // The Events window: its operator's answers, and whether it is shown.
    void sendAgainSignal(qint64 key);
    void releaseSignal(qint64 key);
    void heldRowsWantedSignal(bool wanted);
    // The Devices window asks for a fresh copy of the device records.
    void deviceSnapshotRequestSignal();
    // The Devices window's operator accepts the MAC a device was refused
    // for, or forgets a device.
    void acceptDeviceMacSignal(const QString &deviceId);
    void forgetDeviceSignal(const QString &deviceId);

public slots:
    void Put2Log(QString str);
    void setConnectionCount(int count);
    void setHeldCount(int count);
    // Devices reported absent and refused; shown when not zero.
    void setDeviceTroubleCounts(int absent, int refused);
    void setLineState(const SVelmoraLineState &state);
    // Another instance holds the shared journal's lease: the status bar
    // says so until this one takes it.
    void setStandby(bool standby);
    // Passed on to the Events and Devices windows when they exist.
    void heldRowsSlot(const SVelmoraHeldRows &rows);
    void deviceSnapshotSlot(const SVelmoraDeviceSnapshot &snapshot);
    // The status page's Admit: done by the Devices window's own code,
    // shown or not.
    void admitDeviceSlot(const QString &deviceId);
    // A damaged journal found at open: the status bar shows it until the
    // operator acknowledges it.
    void showJournalDamage(const VelmoraEventJournal::Damage &damage);

    void on_exitSlot();
    void on_confSlot();
    // Shows the Events window, made on first use.
    void on_eventsSlot();
    // The Devices action: shows the devices window, made on first use.
    void on_devicesSlot();
    void onQuitSlot();
    // The panel's Apply: a new page of the log, then the workers restart.
    void confSlot();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    int createToolBar();
    int createLogPane();
    int createStatusBar();
    void addDevicesAction();
    VelmoraDevicesWindow *devicesPanelMade();
    void showAlert();

    QToolBar *toolBar = nullptr;
    QAction *confAction = nullptr;
    QAction *exitAction = nullptr;
    QAction *devicesAction = nullptr;
    VelmoraDevicesWindow *devicesWindow = nullptr;
    VelmoraConfWidget *confWidget = nullptr;
    QStatusBar *mainStatusBar = nullptr;
    QLabel *standbyLabel = nullptr;
    QLabel *connectionsLabel = nullptr;
    QLabel *heldEventsLabel = nullptr;
    QLabel *deviceTroubleLabel = nullptr;
    QLabel *lineStateLabel = nullptr;
    QAction *eventsAction = nullptr;
    VelmoraEventsWindow *eventsWindow = nullptr;
    QLabel *aboutLabel = nullptr;
    VelmoraJournalDamageNotice *journalDamageNotice = nullptr;
    QString appDirectory;
    SVelmoraLineState lastLineState;
    VelmoraLineAlert *alert = nullptr;
    QWidget *alertBannerWidget = nullptr;
    QLabel *alertLabel = nullptr;
    QPushButton *silencePushButton = nullptr;
};

#endif // VELMORA_H
