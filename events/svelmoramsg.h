#ifndef SVELMORAMSG_H
#define SVELMORAMSG_H

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>

// One device event on its way from the network receiver to the serial line.
// Every field is text already rendered as the receiver line needs it.
struct SVelmoraMsg
{
    // The event field is the qualifier digit followed by this three-digit
    // code when the device reports its periodic test.
    static constexpr char kPeriodicTestCode[] = "602";
    static constexpr int kEventFieldLength = 4;

    QString account = QStringLiteral("");
    QString event = QStringLiteral("");
    QString group = QStringLiteral("");
    QString zone = QStringLiteral("");
    QString messageType = QStringLiteral("");
    QString time = QStringLiteral("");
    // The device the event came from, as the network receiver knows the
    // connection; empty when that is not known (events journaled before it
    // was kept).
    QString deviceId = QStringLiteral("");
    // When the network receiver took the event; invalid when not known.
    QDateTime receivedAt;
    // The address the device's connection came from; empty when not known
    // (events journaled before it was kept).
    QString peerAddress = QStringLiteral("");
    // Position of the event in the event journal; 0 when it was never
    // journaled. The serial side uses it to mark the event delivered.
    qint64 journalId = 0;
    // The fields above in their one binary form (VelmoraEventCodec), from
    // byte encodedStart of encoded to its end, once the event store has made
    // it or the event was read from it. encoded may be the whole journal
    // record the form ends: the serial side keeps these very bytes for a
    // held event, shared with the journal, instead of making them again.
    // Empty when not made yet. Whoever changes a field after it is made
    // clears it.
    QByteArray encoded;
    int encodedStart = 0;

    // A periodic test, whatever its qualifier: it is sent after the alarms.
    bool isPeriodicTest() const
    {
        return event.size() == kEventFieldLength && event.endsWith(QLatin1String(kPeriodicTestCode));
    }
};

Q_DECLARE_METATYPE(SVelmoraMsg)

// Registers the record under the name "SVelmoraMsg" for queued connections.
int registerVelmoraMsgType();

#endif // SVELMORAMSG_H
