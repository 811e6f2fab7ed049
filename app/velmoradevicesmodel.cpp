#include "velmoradevicesmodel.h"

#include "velmoradevicestatetext.h"

#include <QBrush>
#include <QDateTime>
#include <QGuiApplication>
#include <QPalette>
#include <QSet>

#include <algorithm>

namespace {

const char kTimeFormat[] = "yyyy-MM-dd hh:mm:ss";

} // namespace

VelmoraDevicesModel::VelmoraDevicesModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

void VelmoraDevicesModel::setSnapshot(const SVelmoraDeviceSnapshot &snapshot)
{
    using State = SVelmoraKnownDevice::State;
    QHash<QString, int> knownIndex;
    for (int i = 0; i < snapshot.known.size(); ++i)
        knownIndex.insert(snapshot.known.at(i).deviceId, i);
    QVector<bool> shown(snapshot.known.size(), false);
    QVector<Row> next;
    next.reserve(snapshot.connected.size() + snapshot.known.size() + snapshot.disconnected.size());
    const auto joined = [&](const SVelmoraDeviceRow *connection, int known) {
        Row row;
        if (connection) {
            row.connection = *connection;
            row.hasConnection = true;
        }
        if (known >= 0) {
            row.known = snapshot.known.at(known);
            row.isKnown = true;
            shown[known] = true;
        }
        return row;
    };
    for (const SVelmoraDeviceRow &connection : snapshot.connected)
        next << joined(&connection, connection.deviceId.isEmpty() ? -1 : knownIndex.value(connection.deviceId, -1));
    // A known device that is not connected shows its latest connection.
    QHash<QString, const SVelmoraDeviceRow *> latestDeparted;
    for (const SVelmoraDeviceRow &departed : snapshot.disconnected) {
        if (!departed.deviceId.isEmpty() && !latestDeparted.contains(departed.deviceId))
            latestDeparted.insert(departed.deviceId, &departed);
    }
    QSet<QString> connectedIds;
    for (const SVelmoraDeviceRow &connection : snapshot.connected)
        connectedIds.insert(connection.deviceId);
    for (int i = 0; i < snapshot.known.size(); ++i) {
        if (!shown.at(i) && !connectedIds.contains(snapshot.known.at(i).deviceId))
            next << joined(latestDeparted.value(snapshot.known.at(i).deviceId), i);
    }
    for (const SVelmoraDeviceRow &departed : snapshot.disconnected) {
        if (departed.deviceId.isEmpty() || !knownIndex.contains(departed.deviceId))
            next << joined(&departed, -1);
    }

    absentDevices = 0;
    refusedDevices = 0;
    for (const SVelmoraKnownDevice &device : snapshot.known) {
        if (device.state == State::Absent)
            ++absentDevices;
        else if (device.state == State::RefusedNotListed || device.state == State::RefusedMacDiffers)
            ++refusedDevices;
    }
    takenAt = snapshot.takenAt;
    departedRows = snapshot.disconnected.size();

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

const SVelmoraKnownDevice *VelmoraDevicesModel::knownDevice(int row) const
{
    if (row < 0 || row >= rows.size() || !rows.at(row).isKnown)
        return nullptr;
    return &rows.at(row).known;
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
    const Row &row = rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return text(row, index.column());
    case Qt::ForegroundRole:
        // A device that has left is shown greyed out below the connected ones.
        if (index.row() >= connectedRows && !(row.isKnown && index.column() == StateColumn))
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

QString VelmoraDevicesModel::stateText(const SVelmoraKnownDevice &device, bool connected, qint64 now)
{
    return VelmoraDeviceStateText::text(device, connected, now);
}

QString VelmoraDevicesModel::text(const Row &fullRow, int column) const
{
    const SVelmoraDeviceRow &row = fullRow.connection;
    const bool connected = fullRow.hasConnection && row.disconnectedAt == 0;
    switch (column) {
    case DeviceIdColumn:
        return fullRow.isKnown ? fullRow.known.deviceId : row.deviceId;
    case DescriptionColumn:
        return fullRow.known.description;
    case PeriodColumn:
        if (!fullRow.isKnown)
            return QString();
        return fullRow.known.periodS == 0 ? VelmoraDeviceStateText::notSupervised()
                                          : QString::number(fullRow.known.periodS);
    case StateColumn:
        if (!fullRow.isKnown)
            return connected ? VelmoraDeviceStateText::pattern(VelmoraDeviceStateText::Shown::Connected) : QString();
        return stateText(fullRow.known, connected, takenAt);
    default:
        break;
    }
    if (!fullRow.hasConnection)
        return QString();
    switch (column) {
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
    case DescriptionColumn:
        return tr("Description");
    case PeriodColumn:
        return tr("Supervision (s)");
    case StateColumn:
        return tr("State");
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
