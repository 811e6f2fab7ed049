#ifndef VELMORAEVENTSWINDOW_H
#define VELMORAEVENTSWINDOW_H

#include "svelmoraheldrow.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QTableView;
class VelmoraHeldEventsModel;

// The "Events" window: the events held for the monitoring software and
// those set aside, as the serial worker last listed them. It only shows the
// lists it is given and passes the operator's answers on; it never reads the
// worker's own records.
class VelmoraEventsWindow : public QWidget
{
    Q_OBJECT

public:
    // Asks the operator; true for yes. The window's own asks with a box.
    using Confirmation = std::function<bool(const QString &title, const QString &text)>;

    explicit VelmoraEventsWindow(QWidget *parent = nullptr);

    void setConfirmation(Confirmation confirmation);
    VelmoraHeldEventsModel *eventsModel() const { return model; }
    QTableView *table() const { return tableView; }
    QPushButton *sendAgainButton() const { return sendAgain; }
    QPushButton *releaseButton() const { return release; }
    QPushButton *exportButton() const { return exportCsv; }
    // The line's state above the table: where the events go, both outputs.
    QLabel *lineStateLabel() const { return lineLabel; }

    // Writes the table as CSV; false with the reason when it could not.
    bool exportTo(const QString &path, QString *error) const;

signals:
    void sendAgainSignal(qint64 key);
    void releaseSignal(qint64 key);
    // Shown or hidden: lists are wanted only while it is shown.
    void shownSignal(bool shown);

public slots:
    void setRowsSlot(const SVelmoraHeldRows &rows);
    void setLineStateText(const QString &text);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void answerSelected(bool again);
    void exportWithDialog();
    void updateButtons();
    // The selected row's event when it is set aside.
    bool selectedSetAside(SVelmoraHeldRow *row) const;

    VelmoraHeldEventsModel *model = nullptr;
    QTableView *tableView = nullptr;
    QLabel *countLabel = nullptr;
    QLabel *lineLabel = nullptr;
    QPushButton *sendAgain = nullptr;
    QPushButton *release = nullptr;
    QPushButton *exportCsv = nullptr;
    Confirmation confirm;
};

#endif // VELMORAEVENTSWINDOW_H
