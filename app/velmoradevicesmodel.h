#ifndef VELMORADEVICESMODEL_H
#define VELMORADEVICESMODEL_H

#include "svelmoradevicesnapshot.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QVector>

// The table of the devices window: the connected devices in the order they
// connected, then the known devices that are not connected, then the
// connections of unknown devices that left lately, newest first. Each row
// joins a connection (when there is one) with what supervision knows of the
// device (when it is known). Fed whole snapshots; it keeps no link to the
// network server.
class VelmoraDevicesModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        DeviceIdColumn,
        DescriptionColumn,
        PeriodColumn,
        StateColumn,
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
    int disconnectedCount() const { return departedRows; }
    // Devices whose absence was reported, and devices refused.
    int absentCount() const { return absentDevices; }
    int refusedCount() const { return refusedDevices; }
    // What the row shows of a known device; null for a connection of a
    // device that is not known.
    const SVelmoraKnownDevice *knownDevice(int row) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Local date and time as the table shows it; empty for 0.
    static QString timeText(qint64 msecsSinceEpoch);
    // The state column: connected / heard N s ago / absent since hh:mm /
    // refused: not listed / refused: MAC differs.
    static QString stateText(const SVelmoraKnownDevice &device, bool connected, qint64 now);

private:
    struct Row
    {
        SVelmoraDeviceRow connection;
        bool hasConnection = false;
        SVelmoraKnownDevice known;
        bool isKnown = false;
    };
    QString text(const Row &row, int column) const;

    QVector<Row> rows;
    int connectedRows = 0;
    int departedRows = 0;
    int absentDevices = 0;
    int refusedDevices = 0;
    qint64 takenAt = 0;
};

#endif // VELMORADEVICESMODEL_H
