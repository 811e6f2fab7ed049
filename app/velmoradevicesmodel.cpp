#include "velmoradevicesmodel.h"

#include <QBrush>
#include <QDateTime>
#include <QGuiApplication>
#include <QPalette>

namespace {

const char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

} // namespace

VelmoraDevicesModel::VelmoraDevicesModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void VelmoraDevicesModel::setSnapshot(const SVelmoraDeviceSnapshot &snapshot)
{
    QVector<SVelmoraDeviceRow> next;
    next.reserve(snapshot.connected.size() + snapshot.disconnected.size());
    next << snapshot.connected << snapshot.disconnected;

    const int before = rows.size();
    const int after = next.size();
    if (after > before) {
        beginInsertRows(QModelIndex(), before, after - 1);
        rows = std::move(next);
        connectedRows = snapshot.connected.size();
        endInsertRows();
    } else if (after < before) {
        beginRemoveRows(QModelIndex(), after, before - 1);
        rows = std::move(next);
        connectedRows = snapshot.connected.size();
        endRemoveRows();
    } else {
        rows = std::move(next);
        connectedRows = snapshot.connected.size();
    }
    const int common = std::min(before, after);
    if (common > 0)
        emit dataChanged(index(0, 0), index(common - 1, ColumnCount - 1));
}

int VelmoraDevicesModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int VelmoraDevicesModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VelmoraDevicesModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const SVelmoraDeviceRow &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return text(row, index.column());
    case Qt::ForegroundRole:
        // A device that has left is shown greyed out below the connected ones.
        if (index.row() >= connectedRows)
            return QGuiApplication::palette().brush(QPalette::Disabled, QPalette::Text);
        return QVariant();
    case Qt::TextAlignmentRole:
        if (index.column() == FramesColumn)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QString VelmoraDevicesModel::text(const SVelmoraDeviceRow &row, int column) const
{
    switch (column) {
    case DeviceIdColumn:
        return row.deviceId;
    case AddressColumn:
        return row.peerAddress + QLatin1Char(':') + QString::number(row.peerPort);
    case ConnectedSinceColumn:
        return timeText(row.connectedAt);
    case LastFrameColumn:
        return row.lastFrameAt == 0 ? tr("none") : timeText(row.lastFrameAt);
    case LastTestColumn:
        return row.lastTestAt == 0 ? tr("none") : timeText(row.lastTestAt);
    case FramesColumn:
        return QString::number(row.framesReceived);
    case MacColumn:
        return row.macKnown ? tr("known") : tr("not known");
    case DisconnectedColumn:
        return timeText(row.disconnectedAt);
    default:
        return QString();
    }
}

QVariant VelmoraDevicesModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case DeviceIdColumn:
        return tr("Device ID");
    case AddressColumn:
        return tr("Address");
    case ConnectedSinceColumn:
        return tr("Connected since");
    case LastFrameColumn:
        return tr("Last frame");
    case LastTestColumn:
        return tr("Last periodic test");
    case FramesColumn:
        return tr("Frames");
    case MacColumn:
        return tr("MAC");
    case DisconnectedColumn:
        return tr("Disconnected");
    default:
        return QVariant();
    }
}

QString VelmoraDevicesModel::timeText(qint64 msecsSinceEpoch)
{
    if (msecsSinceEpoch == 0)
        return QString();
    return QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch).toString(QLatin1String(kTimeFormat));
}
