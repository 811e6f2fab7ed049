#ifndef VELMORADEVICESWINDOW_H
#define VELMORADEVICESWINDOW_H

#include "svelmoradevicelistrow.h"
#include "svelmoradevicesnapshot.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QWidget>

class QHideEvent;
class QLabel;
class QPushButton;
class QShowEvent;
class QTableView;
class QTimer;
class VelmoraDevicesModel;

// The "Devices" window: the known devices, connected or not, with their
// supervision state; which devices are connected, what each has sent, and
// which left during the last day. Its actions change the operator's device
// list (conf/devices.csv) or ask the network thread, each after a
// confirmation and with a log line. While it is shown it asks for a
// snapshot once a second, and never again before the last one came back,
// so that a busy network thread is not handed a queue of requests.
class VelmoraDevicesWindow : public QWidget
{
    Q_OBJECT

public:
    explicit VelmoraDevicesWindow(QWidget *parent = nullptr);

    static constexpr int kRefreshIntervalMs = 1000;
    // A request whose answer has not come after this long is given up, so
    // that a lost answer does not stop the refresh for good.
    static constexpr int kAnswerTimeoutMs = 10000;

    VelmoraDevicesModel *devicesModel() const { return model; }
    QTableView *devicesView() const { return view; }
    QLabel *summaryText() const { return summaryLabel; }

    // The device list the actions write.
    void setDeviceListPath(const QString &path);
    // Asks before each action; tests switch it off.
    void setConfirmationsShown(bool shown);

    // The actions on the selected device, and on the list.
    void admitSelected();
    // Admit without the question, as the status page's Admit does: the
    // refused device's row is added to the list and the action logged.
    bool admitDevice(const QString &deviceId);
    void acceptMacOfSelected();
    void forgetSelected();
    void editSelected();
    // Edits without a dialog: the description and the period (-1: the
    // configured one).
    bool editDevice(const QString &deviceId, const QString &description, int periodS);
    bool importList(const QString &fromPath);
    bool exportList(const QString &toPath);

signals:
    void snapshotRequestSignal();
    void acceptMacSignal(const QString &deviceId);
    void forgetSignal(const QString &deviceId);
    // A line for the log window; the day log gets its English copy here.
    void logSignal(const QString &line);

public slots:
    void snapshotSlot(const SVelmoraDeviceSnapshot &snapshot);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();
    void updateButtons();
    const SVelmoraKnownDevice *selectedDevice() const;
    bool confirm(const QString &question);
    // The action's line, translated in the window and in English in the day
    // log; %1 and on are the arguments.
    void logAction(const char *text, const QStringList &args);
    // The line of a failed write of the list.
    void reportFailure(const QString &reason);
    SVelmoraDeviceListRow rowOf(const QString &deviceId) const;

    VelmoraDevicesModel *model = nullptr;
    QTableView *view = nullptr;
    QLabel *summaryLabel = nullptr;
    QTimer *refreshTimer = nullptr;
    QPushButton *admitButton = nullptr;
    QPushButton *acceptMacButton = nullptr;
    QPushButton *editButton = nullptr;
    QPushButton *forgetButton = nullptr;
    QString listPath;
    bool confirmationsShown = true;
    bool awaitingAnswer = false;
    QElapsedTimer askedAt;
};

#endif // VELMORADEVICESWINDOW_H
