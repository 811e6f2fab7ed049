#include "velmoraeventswindow.h"

#include "velmoraheldeventsmodel.h"
#include "velmorareceiverformat.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

VelmoraEventsWindow::VelmoraEventsWindow(QWidget *parent)
    : QWidget(parent, Qt::Window),
      model(new VelmoraHeldEventsModel(this)),
      tableView(new QTableView(this)),
      countLabel(new QLabel(this)),
      lineLabel(new QLabel(this)),
      sendAgain(new QPushButton(tr("Send again"), this)),
      release(new QPushButton(tr("Release"), this)),
      exportCsv(new QPushButton(tr("Export…"), this))
{
    setWindowTitle(tr("Events"));
    resize(980, 420);

    tableView->setModel(model);
    tableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    tableView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableView->verticalHeader()->hide();
    tableView->horizontalHeader()->setStretchLastSection(true);
    tableView->setWordWrap(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(countLabel, 1);
    buttons->addWidget(sendAgain);
    buttons->addWidget(release);
    buttons->addWidget(exportCsv);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(lineLabel);
    layout->addWidget(tableView, 1);
    layout->addLayout(buttons);

    confirm = [this](const QString &title, const QString &text) {
        return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
            == QMessageBox::Yes;
    };
    connect(sendAgain, &QPushButton::clicked, this, [this] { answerSelected(true); });
    connect(release, &QPushButton::clicked, this, [this] { answerSelected(false); });
    connect(exportCsv, &QPushButton::clicked, this, &VelmoraEventsWindow::exportWithDialog);
    connect(tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &VelmoraEventsWindow::updateButtons);
    setRowsSlot(SVelmoraHeldRows());
}

void VelmoraEventsWindow::setConfirmation(Confirmation confirmation)
{
    confirm = std::move(confirmation);
}

void VelmoraEventsWindow::setLineStateText(const QString &text)
{
    lineLabel->setText(text);
}

void VelmoraEventsWindow::setRowsSlot(const SVelmoraHeldRows &rows)
{
    // The list is replaced whole; the operator's selection stays on its event.
    qint64 selectedKey = 0;
    bool hadSelection = false;
    const QModelIndexList selected = tableView->selectionModel()->selectedRows();
    if (!selected.isEmpty()) {
        selectedKey = model->rows().at(selected.first().row()).key;
        hadSelection = true;
    }
    const bool wasEmpty = model->rowCount() == 0;
    model->setRows(rows);
    // Fitted to the first events shown; later lists keep the widths the
    // operator may have set.
    if (wasEmpty && !rows.isEmpty())
        tableView->resizeColumnsToContents();
    if (hadSelection) {
        const int row = model->rowOfKey(selectedKey);
        if (row >= 0)
            tableView->selectRow(row);
    }
    int setAside = 0;
    for (const SVelmoraHeldRow &row : rows)
        setAside += row.state == SVelmoraHeldRow::SetAside ? 1 : 0;
    countLabel->setText(tr("Held: %1, set aside: %2").arg(rows.size() - setAside).arg(setAside));
    updateButtons();
}

bool VelmoraEventsWindow::selectedSetAside(SVelmoraHeldRow *row) const
{
    const QModelIndexList selected = tableView->selectionModel()->selectedRows();
    if (selected.isEmpty() || selected.first().row() >= model->rows().size())
        return false;
    *row = model->rows().at(selected.first().row());
    return row->state == SVelmoraHeldRow::SetAside;
}

void VelmoraEventsWindow::updateButtons()
{
    SVelmoraHeldRow row;
    const bool setAside = selectedSetAside(&row);
    sendAgain->setEnabled(setAside);
    release->setEnabled(setAside);
}

void VelmoraEventsWindow::answerSelected(bool again)
{
    SVelmoraHeldRow row;
    if (!selectedSetAside(&row))
        return;
    const QString line = VelmoraReceiverFormat::printableLine(row.lineText);
    const bool yes = again
        ? confirm(tr("Send again"), tr("Send this event to the monitoring software again?\n\n%1").arg(line))
        : confirm(tr("Release"),
                  tr("Release this event? It will not be sent, and the journal no longer keeps it.\n\n%1")
                      .arg(line));
    if (!yes)
        return;
    if (again)
        emit sendAgainSignal(row.key);
    else
        emit releaseSignal(row.key);
}

bool VelmoraEventsWindow::exportTo(const QString &path, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    const QByteArray bytes = model->toCsv().toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}

void VelmoraEventsWindow::exportWithDialog()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export events"), QStringLiteral("events.csv"),
                                                      tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportTo(path, &error))
        QMessageBox::warning(this, tr("Export events"), tr("Could not write %1: %2").arg(path, error));
}

void VelmoraEventsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    emit shownSignal(true);
}

void VelmoraEventsWindow::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    emit shownSignal(false);
}
