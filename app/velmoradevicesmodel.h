#ifndef VELMORADEVICESMODEL_H
#define VELMORADEVICESMODEL_H

#include "svelmoradevicesnapshot.h"

#include <QAbstractTableModel>
#include <QVector>

// The table of the devices window: the connected devices in the order they
// connected, then those that left lately, newest first. Fed whole snapshots;
// it keeps no link to the network server.
class VelmoraDevicesModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        DeviceIdColumn,
        AddressColumn,
        ConnectedSinceColumn,
        LastFrameColumn,
        LastTestColumn,
        FramesColumn,
        MacColumn,
        DisconnectedColumn,
        ColumnCount
    };

    explicit VelmoraDevicesModel(QObject *parent = nullptr);

    // Replaces the rows. Rows that stay keep their place, so the view keeps
    // its scroll position and selection as the numbers change.
    void setSnapshot(const SVelmoraDeviceSnapshot &snapshot);
    int connectedCount() const { return connectedRows; }
    int disconnectedCount() const { return rows.size() - connectedRows; }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Local date and time as the table shows it; empty for 0.
    static QString timeText(qint64 msecsSinceEpoch);

private:
    QString text(const SVelmoraDeviceRow &row, int column) const;

    QVector<SVelmoraDeviceRow> rows;
    int connectedRows = 0;
};

#endif // VELMORADEVICESMODEL_H
