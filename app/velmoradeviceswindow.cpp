#include "velmoradeviceswindow.h"

#include "velmoradevicesmodel.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int kWindowWidth = 1080;
const int kWindowHeight = 420;

} // namespace

VelmoraDevicesWindow::VelmoraDevicesWindow(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , model(new VelmoraDevicesModel(this))
    , view(new QTableView(this))
    , summaryLabel(new QLabel(this))
    , refreshTimer(new QTimer(this))
{
    setWindowTitle(tr("Devices"));
    resize(kWindowWidth, kWindowHeight);

    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setAlternatingRowColors(true);
    view->verticalHeader()->hide();
    view->horizontalHeader()->setStretchLastSection(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(view);
    snapshotSlot(SVelmoraDeviceSnapshot());

    refreshTimer->setInterval(kRefreshIntervalMs);
    connect(refreshTimer, &QTimer::timeout, this, &VelmoraDevicesWindow::refresh);
}

void VelmoraDevicesWindow::snapshotSlot(const SVelmoraDeviceSnapshot &snapshot)
{
    awaitingAnswer = false;
    model->setSnapshot(snapshot);
    summaryLabel->setText(tr("Connected: %1. Disconnected during the last 24 hours: %2.")
                              .arg(model->connectedCount())
                              .arg(model->disconnectedCount()));
}

void VelmoraDevicesWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refreshTimer->start();
    awaitingAnswer = false;
    refresh();
}

void VelmoraDevicesWindow::hideEvent(QHideEvent *event)
{
    refreshTimer->stop();
    QWidget::hideEvent(event);
}

void VelmoraDevicesWindow::refresh()
{
    if (awaitingAnswer && askedAt.elapsed() < kAnswerTimeoutMs)
        return;
    awaitingAnswer = true;
    askedAt.start();
    emit snapshotRequestSignal();
}
