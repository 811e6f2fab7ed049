#ifndef SVELMORADEVICESNAPSHOT_H
#define SVELMORADEVICESNAPSHOT_H

#include <QMetaType>
#include <QString>
#include <QVector>
#include <QtGlobal>

// One device connection as the network server knew it at one moment. Times
// are milliseconds since 1970 UTC; 0 stands for "not yet".
struct SVelmoraDeviceRow
{
    // Hex, as in the log lines; empty until the device has sent a frame.
    QString deviceId;
    QString peerAddress;
    quint16 peerPort = 0;
    qint64 connectedAt = 0;
    qint64 lastFrameAt = 0;
    // The last periodic test (event code 602) the device sent.
    qint64 lastTestAt = 0;
    quint64 framesReceived = 0;
    bool macKnown = false;
    // When the connection ended; 0 while it is open.
    qint64 disconnectedAt = 0;
};

// One known device as supervision and admission knew it at one moment.
struct SVelmoraKnownDevice
{
    enum class State {
        NotHeard,          // not heard since the start
        Heard,             // heard within its period, or not supervised
        Absent,            // its absence was reported
        RefusedNotListed,  // its frames are refused: it is not in the list
        RefusedMacDiffers, // its frames are refused: its MAC is not the one expected
    };

    QString deviceId;
    QString description;
    // Effective supervision period in seconds; 0: not supervised.
    int periodS = 0;
    bool listed = false;
    State state = State::NotHeard;
    // The MAC kept for the device; for a refusal the one expected and the
    // one presented.
    QString mac;
    QString expectedMac;
    QString presentedMac;
    // The MAC is written in the device's row of the list.
    bool macPinned = false;
    qint64 lastHeardAt = 0;
    qint64 absentSince = 0;
};

// A copy of the server's device records, made in the network thread and
// handed to the window by value, so that the window never reads the live
// records.
struct SVelmoraDeviceSnapshot
{
    qint64 takenAt = 0;
    // In the order the connections were accepted.
    QVector<SVelmoraDeviceRow> connected;
    // Newest first.
    QVector<SVelmoraDeviceRow> disconnected;
    // Every device that is known, listed or refused, by device ID.
    QVector<SVelmoraKnownDevice> known;
};

Q_DECLARE_METATYPE(SVelmoraDeviceSnapshot)

// Registers the snapshot under the name "SVelmoraDeviceSnapshot" for queued
// connections.
int registerVelmoraDeviceSnapshotType();

#endif // SVELMORADEVICESNAPSHOT_H
