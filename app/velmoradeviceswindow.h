#ifndef VELMORADEVICESWINDOW_H
#define VELMORADEVICESWINDOW_H

#include "svelmoradevicesnapshot.h"

#include <QElapsedTimer>
#include <QWidget>

class QHideEvent;
class QLabel;
class QShowEvent;
class QTableView;
class QTimer;
class VelmoraDevicesModel;

// The "Devices" window: which devices are connected, what each has sent,
// and which left during the last day. While it is shown it asks for a
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

signals:
    void snapshotRequestSignal();

public slots:
    void snapshotSlot(const SVelmoraDeviceSnapshot &snapshot);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void refresh();

    VelmoraDevicesModel *model = nullptr;
    QTableView *view = nullptr;
    QLabel *summaryLabel = nullptr;
    QTimer *refreshTimer = nullptr;
    bool awaitingAnswer = false;
    QElapsedTimer askedAt;
};

#endif // VELMORADEVICESWINDOW_H
