#include "velmoradeviceswindow.h"

#include "velmoradevicelist.h"
#include "velmoradevicelistfile.h"
#include "velmoradevicesmodel.h"
#include "velmoralog.h"
#include "velmoraprogram.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const int kWindowWidth = 1080;
const int kWindowHeight = 420;
const char kCsvFilter[] = QT_TRANSLATE_NOOP("VelmoraDevicesWindow", "Device lists (*.csv)");

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

    auto *buttons = new QHBoxLayout();
    admitButton = new QPushButton(tr("Admit"), this);
    admitButton->setToolTip(tr("Add the refused device's row to the device list"));
    acceptMacButton = new QPushButton(tr("Accept new MAC"), this);
    editButton = new QPushButton(tr("Edit..."), this);
    editButton->setToolTip(tr("Description and supervision period, written to the device list"));
    forgetButton = new QPushButton(tr("Forget"), this);
    forgetButton->setToolTip(tr("The device is no longer known nor supervised"));
    auto *importButton = new QPushButton(tr("Import..."), this);
    auto *exportButton = new QPushButton(tr("Export..."), this);
    for (QPushButton *button : {admitButton, acceptMacButton, editButton, forgetButton})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(importButton);
    buttons->addWidget(exportButton);
    connect(admitButton, &QPushButton::clicked, this, &VelmoraDevicesWindow::admitSelected);
    connect(acceptMacButton, &QPushButton::clicked, this, &VelmoraDevicesWindow::acceptMacOfSelected);
    connect(editButton, &QPushButton::clicked, this, &VelmoraDevicesWindow::editSelected);
    connect(forgetButton, &QPushButton::clicked, this, &VelmoraDevicesWindow::forgetSelected);
    connect(importButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Import the device list"), QString(),
                                                          tr(kCsvFilter));
        if (!path.isEmpty())
            importList(path);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Export the device list"),
                                                          QStringLiteral("devices.csv"), tr(kCsvFilter));
        if (!path.isEmpty())
            exportList(path);
    });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(summaryLabel);
    layout->addWidget(view);
    layout->addLayout(buttons);
    snapshotSlot(SVelmoraDeviceSnapshot());
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VelmoraDevicesWindow::updateButtons);

    refreshTimer->setInterval(kRefreshIntervalMs);
    connect(refreshTimer, &QTimer::timeout, this, &VelmoraDevicesWindow::refresh);
}

void VelmoraDevicesWindow::snapshotSlot(const SVelmoraDeviceSnapshot &snapshot)
{
    awaitingAnswer = false;
    model->setSnapshot(snapshot);
    QString summary = tr("Connected: %1. Disconnected during the last 24 hours: %2.")
                          .arg(model->connectedCount())
                          .arg(model->disconnectedCount());
    if (model->absentCount() > 0 || model->refusedCount() > 0)
        summary += QLatin1Char(' ') + tr("Absent: %1. Refused: %2.").arg(model->absentCount()).arg(model->refusedCount());
    summaryLabel->setText(summary);
    updateButtons();
}

void VelmoraDevicesWindow::setDeviceListPath(const QString &path)
{
    listPath = path;
}

void VelmoraDevicesWindow::setConfirmationsShown(bool shown)
{
    confirmationsShown = shown;
}

const SVelmoraKnownDevice *VelmoraDevicesWindow::selectedDevice() const
{
    const QModelIndexList selected = view->selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : model->knownDevice(selected.first().row());
}

void VelmoraDevicesWindow::updateButtons()
{
    using State = SVelmoraKnownDevice::State;
    const SVelmoraKnownDevice *device = selectedDevice();
    admitButton->setEnabled(device && device->state == State::RefusedNotListed);
    acceptMacButton->setEnabled(device && device->state == State::RefusedMacDiffers);
    editButton->setEnabled(device != nullptr);
    forgetButton->setEnabled(device != nullptr);
}

bool VelmoraDevicesWindow::confirm(const QString &question)
{
    return !confirmationsShown
        || QMessageBox::question(this, VelmoraProgram::name(), question, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No)
        == QMessageBox::Yes;
}

void VelmoraDevicesWindow::logAction(const char *text, const QStringList &args)
{
    // In one pass, so that text in an argument is never taken for a place
    // marker.
    const auto fill = [&args](const QString &pattern) {
        switch (args.size()) {
        case 1:
            return pattern.arg(args.at(0));
        case 2:
            return pattern.arg(args.at(0), args.at(1));
        case 3:
            return pattern.arg(args.at(0), args.at(1), args.at(2));
        default:
            return pattern.arg(args.value(0), args.value(1), args.value(2), args.value(3));
        }
    };
    const QString screen = fill(tr(text));
    const QString file = fill(QString::fromLatin1(text));
    const QString tag = QStringLiteral("[%1] ").arg(VelmoraProgram::name());
    emit logSignal(tag + screen);
    VelmoraCommon_LogInfo(tag + file);
}

void VelmoraDevicesWindow::reportFailure(const QString &reason)
{
    logAction(QT_TR_NOOP("Can not write the device list %1: %2."), {listPath, reason});
    // An action from the status page while the window is closed has only
    // its log line.
    if (confirmationsShown && isVisible())
        QMessageBox::warning(this, VelmoraProgram::warningTitle(),
                             tr("Can not write the device list %1: %2.").arg(listPath, reason));
}

SVelmoraDeviceListRow VelmoraDevicesWindow::rowOf(const QString &deviceId) const
{
    // The row as the list has it, when it has one.
    SVelmoraDeviceListRow row;
    QByteArray bytes;
    QString error;
    if (VelmoraDeviceListFile::read(listPath, &bytes, &error)) {
        const VelmoraDeviceList::Parsed list = VelmoraDeviceList::parse(bytes);
        if (const SVelmoraDeviceListRow *listed = VelmoraDeviceList::find(list, deviceId))
            row = *listed;
    }
    row.deviceId = deviceId;
    return row;
}

void VelmoraDevicesWindow::admitSelected()
{
    const SVelmoraKnownDevice *device = selectedDevice();
    if (!device || device->state != SVelmoraKnownDevice::State::RefusedNotListed)
        return;
    const QString deviceId = device->deviceId;
    if (!confirm(tr("Admit device %1? Its row is added to %2 and its next frame is acknowledged.")
                     .arg(deviceId, listPath)))
        return;
    admitDevice(deviceId);
}

bool VelmoraDevicesWindow::admitDevice(const QString &deviceId)
{
    QString error;
    if (!VelmoraDeviceListFile::putRow(listPath, rowOf(deviceId), &error)) {
        reportFailure(error);
        return false;
    }
    logAction(QT_TR_NOOP("Operator admitted device %1: its row was added to %2."), {deviceId, listPath});
    return true;
}

void VelmoraDevicesWindow::acceptMacOfSelected()
{
    const SVelmoraKnownDevice *device = selectedDevice();
    if (!device || device->state != SVelmoraKnownDevice::State::RefusedMacDiffers)
        return;
    const SVelmoraKnownDevice chosen = *device;
    if (!confirm(tr("Accept MAC %1 for device %2 in place of %3?")
                     .arg(chosen.presentedMac, chosen.deviceId, chosen.expectedMac)))
        return;
    if (chosen.macPinned) {
        // The MAC written in the row is the one that counts: it is changed.
        SVelmoraDeviceListRow row = rowOf(chosen.deviceId);
        row.mac = chosen.presentedMac;
        QString error;
        if (!VelmoraDeviceListFile::putRow(listPath, row, &error)) {
            reportFailure(error);
            return;
        }
    } else {
        emit acceptMacSignal(chosen.deviceId);
    }
    logAction(QT_TR_NOOP("Operator accepted MAC %2 for device %1 (was %3)."),
              {chosen.deviceId, chosen.presentedMac, chosen.expectedMac});
}

void VelmoraDevicesWindow::forgetSelected()
{
    const SVelmoraKnownDevice *device = selectedDevice();
    if (!device)
        return;
    const SVelmoraKnownDevice chosen = *device;
    if (!confirm(tr("Forget device %1? It is no longer supervised, and its row is taken out of %2.")
                     .arg(chosen.deviceId, listPath)))
        return;
    if (chosen.listed) {
        QString error;
        if (!VelmoraDeviceListFile::removeRow(listPath, chosen.deviceId, &error)) {
            reportFailure(error);
            return;
        }
    }
    emit forgetSignal(chosen.deviceId);
    logAction(QT_TR_NOOP("Operator forgot device %1."), {chosen.deviceId});
}

void VelmoraDevicesWindow::editSelected()
{
    const SVelmoraKnownDevice *device = selectedDevice();
    if (!device)
        return;
    const SVelmoraDeviceListRow row = rowOf(device->deviceId);
    QDialog dialog(this);
    dialog.setWindowTitle(tr("Device %1").arg(row.deviceId));
    auto *form = new QFormLayout(&dialog);
    auto *description = new QLineEdit(row.description, &dialog);
    auto *period = new QSpinBox(&dialog);
    period->setRange(SVelmoraDeviceListRow::kDefaultPeriod, VelmoraDeviceList::kMaxSupervisionS);
    period->setSpecialValueText(tr("as configured"));
    period->setValue(row.supervisionS);
    form->addRow(tr("Description:"), description);
    form->addRow(tr("Supervision period (secs, 0 = none):"), period);
    auto *box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    form->addRow(box);
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() == QDialog::Accepted)
        editDevice(row.deviceId, description->text(), period->value());
}

bool VelmoraDevicesWindow::editDevice(const QString &deviceId, const QString &description, int periodS)
{
    SVelmoraDeviceListRow row = rowOf(deviceId);
    row.description = description;
    row.supervisionS = periodS;
    QString error;
    if (!VelmoraDeviceListFile::putRow(listPath, row, &error)) {
        reportFailure(error);
        return false;
    }
    logAction(QT_TR_NOOP("Operator changed device %1 in %2: description \"%3\", period %4."),
              {deviceId, listPath, description,
               periodS == SVelmoraDeviceListRow::kDefaultPeriod ? QStringLiteral("-") : QString::number(periodS)});
    return true;
}

bool VelmoraDevicesWindow::importList(const QString &fromPath)
{
    QByteArray bytes;
    QString error;
    if (!VelmoraDeviceListFile::read(fromPath, &bytes, &error)) {
        reportFailure(error);
        return false;
    }
    const VelmoraDeviceList::Parsed list = VelmoraDeviceList::parse(bytes);
    if (!confirm(tr("Replace the device list with the %1 device(s) of %2? %3 row(s) of it are not usable.")
                     .arg(list.rows.size())
                     .arg(fromPath)
                     .arg(list.problems.size())))
        return false;
    if (!VelmoraDeviceListFile::write(listPath, bytes, &error)) {
        reportFailure(error);
        return false;
    }
    logAction(QT_TR_NOOP("Operator imported the device list %1 into %2: %3 device(s)."),
              {fromPath, listPath, QString::number(list.rows.size())});
    return true;
}

bool VelmoraDevicesWindow::exportList(const QString &toPath)
{
    // The list as the program knows it: the listed devices with their rows,
    // and those learned with their MACs.
    QByteArray bytes;
    QString error;
    VelmoraDeviceListFile::read(listPath, &bytes, &error);
    const VelmoraDeviceList::Parsed list = VelmoraDeviceList::parse(bytes);
    QVector<SVelmoraDeviceListRow> rows = list.rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const SVelmoraKnownDevice *device = model->knownDevice(row);
        if (!device || device->listed || device->state == SVelmoraKnownDevice::State::RefusedNotListed)
            continue;
        SVelmoraDeviceListRow learned;
        learned.deviceId = device->deviceId;
        learned.mac = device->mac;
        rows << learned;
    }
    if (!VelmoraDeviceListFile::write(toPath, VelmoraDeviceList::toCsv(rows, list.separator), &error)) {
        logAction(QT_TR_NOOP("Can not write the device list %1: %2."), {toPath, error});
        return false;
    }
    logAction(QT_TR_NOOP("Operator exported %1 device(s) to %2."), {QString::number(rows.size()), toPath});
    return true;
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
