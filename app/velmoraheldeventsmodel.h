#ifndef VELMORAHELDEVENTSMODEL_H
#define VELMORAHELDEVENTSMODEL_H

#include "svelmoraheldrow.h"

#include <QAbstractTableModel>
#include <QString>

// The events the serial worker holds or has set aside, as the last list it
// sent: a copy, replaced whole by each new list.
class VelmoraHeldEventsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        ReceivedColumn,
        DeviceColumn,
        PeerColumn,
        AccountColumn,
        EventColumn,
        GroupColumn,
        ZoneColumn,
        LineColumn,
        AttemptsColumn,
        StateColumn,
        ColumnCount,
    };

    explicit VelmoraHeldEventsModel(QObject *parent = nullptr);

    void setRows(const SVelmoraHeldRows &rows);
    const SVelmoraHeldRows &rows() const { return heldRows; }
    // The row whose event has this key, or -1.
    int rowOfKey(qint64 key) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of one cell as the table shows it.
    QString cellText(int row, int column) const;
    // The whole table, header first, as CSV: fields separated by commas,
    // quoted when they hold a comma, a quote or a line break, quotes doubled,
    // lines ended by CR LF.
    QString toCsv() const;
    static QString csvField(const QString &text);

private:
    SVelmoraHeldRows heldRows;
};

#endif // VELMORAHELDEVENTSMODEL_H
