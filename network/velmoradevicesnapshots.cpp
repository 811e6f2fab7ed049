#include "velmoradevicesnapshots.h"

#include "svelmoraclient.h"
#include "velmoraconnectiontable.h"
#include "velmoraframe.h"

void VelmoraDeviceSnapshots::setDepartedLimits(qint64 maxAgeMs, int maxCount)
{
    departed.setLimits(maxAgeMs, maxCount);
}

void VelmoraDeviceSnapshots::noteDeparted(const SVelmoraClient &client, qint64 at)
{
    SVelmoraDeviceRow row = rowOf(client);
    row.disconnectedAt = at;
    departed.add(row);
}

SVelmoraDeviceSnapshot VelmoraDeviceSnapshots::take(const VelmoraConnectionTable &table, qint64 now)
{
    SVelmoraDeviceSnapshot snapshot;
    snapshot.takenAt = now;
    const QVector<const SVelmoraClient *> open = table.inAcceptedOrder();
    snapshot.connected.reserve(open.size());
    for (const SVelmoraClient *client : open)
        snapshot.connected << rowOf(*client);
    snapshot.disconnected = departed.rows(now);
    return snapshot;
}

SVelmoraDeviceRow VelmoraDeviceSnapshots::rowOf(const SVelmoraClient &client)
{
    SVelmoraDeviceRow row;
    // The ID comes with every frame; before the first one it is not known.
    if (client.activity.framesReceived > 0)
        row.deviceId = VelmoraFrame::toHexString(client.id.data(), VelmoraFrame::kIdSize);
    row.peerAddress = client.peerAddress;
    row.peerPort = client.peerPort;
    row.connectedAt = client.activity.connectedAt;
    row.lastFrameAt = client.activity.lastFrameAt;
    row.lastTestAt = client.activity.lastTestAt;
    row.framesReceived = client.activity.framesReceived;
    row.macKnown = client.macKnown;
    return row;
}
