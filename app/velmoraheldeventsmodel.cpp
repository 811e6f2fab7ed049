#include "velmoraheldeventsmodel.h"

#include "velmorareceiverformat.h"

#include <QStringList>

VelmoraHeldEventsModel::VelmoraHeldEventsModel(QObject *parent) : QAbstractTableModel(parent) {}

void VelmoraHeldEventsModel::setRows(const SVelmoraHeldRows &rows)
{
    beginResetModel();
    heldRows = rows;
    endResetModel();
}

int VelmoraHeldEventsModel::rowOfKey(qint64 key) const
{
    for (int row = 0; row < heldRows.size(); ++row) {
        if (heldRows.at(row).key == key)
            return row;
    }
    return -1;
}

int VelmoraHeldEventsModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : heldRows.size();
}

int VelmoraHeldEventsModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant VelmoraHeldEventsModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= heldRows.size())
        return QVariant();
    if (role == Qt::DisplayRole)
        return cellText(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() == AttemptsColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant VelmoraHeldEventsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case ReceivedColumn:
        return tr("Received");
    case DeviceColumn:
        return tr("Device ID");
    case PeerColumn:
        return tr("Peer address");
    case AccountColumn:
        return tr("Account");
    case EventColumn:
        return tr("Event");
    case GroupColumn:
        return tr("Group");
    case ZoneColumn:
        return tr("Zone");
    case LineColumn:
        return tr("Line");
    case AttemptsColumn:
        return tr("Attempts");
    case StateColumn:
        return tr("State");
    default:
        return QVariant();
    }
}

QString VelmoraHeldEventsModel::cellText(int row, int column) const
{
    const SVelmoraHeldRow &held = heldRows.at(row);
    switch (column) {
    case ReceivedColumn:
        return held.msg.receivedAt.isValid()
            ? held.msg.receivedAt.toLocalTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))
            : QString();
    case DeviceColumn:
        return held.msg.deviceId;
    case PeerColumn:
        return held.msg.peerAddress;
    case AccountColumn:
        return held.msg.account;
    case EventColumn:
        return held.msg.event;
    case GroupColumn:
        return held.msg.group;
    case ZoneColumn:
        return held.msg.zone;
    case LineColumn:
        return VelmoraReceiverFormat::printableLine(held.lineText);
    case AttemptsColumn:
        return QString::number(held.attempts);
    case StateColumn:
        switch (held.state) {
        case SVelmoraHeldRow::Waiting:
            return tr("waiting");
        case SVelmoraHeldRow::Refused:
            return tr("refused, kept until the next event");
        case SVelmoraHeldRow::SetAside:
            return tr("set aside");
        }
        break;
    default:
        break;
    }
    return QString();
}

QString VelmoraHeldEventsModel::toCsv() const
{
    const QString lineEnd = QStringLiteral("\r\n");
    QStringList fields;
    for (int column = 0; column < ColumnCount; ++column)
        fields << csvField(headerData(column, Qt::Horizontal).toString());
    QString csv = fields.join(QLatin1Char(',')) + lineEnd;
    for (int row = 0; row < heldRows.size(); ++row) {
        fields.clear();
        for (int column = 0; column < ColumnCount; ++column)
            fields << csvField(cellText(row, column));
        csv += fields.join(QLatin1Char(',')) + lineEnd;
    }
    return csv;
}

QString VelmoraHeldEventsModel::csvField(const QString &text)
{
    const bool quoted = text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"'))
                        || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
    if (!quoted)
        return text;
    QString field = text;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

