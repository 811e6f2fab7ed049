#ifndef VELMORASTATUSJSON_H
#define VELMORASTATUSJSON_H

#include "svelmoradevicesnapshot.h"
#include "svelmoraheldrow.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

// The body of /status.json, which the operator's page draws: the status
// bar's texts, the events held and set aside, and the devices.
class VelmoraStatusJson
{
public:
    // The devices as the Devices window lists them, a JSON array; the IDs
    // refused for not being listed go to refusedNotListed.
    static QByteArray deviceRows(const SVelmoraDeviceSnapshot &snapshot, QSet<QString> *refusedNotListed);
    // texts: connections, held, line, device trouble, standby. copiesIn:
    // the workers' copies came in since the page was opened.
    static QByteArray status(const QStringList &texts, const SVelmoraHeldRows &held, bool copiesIn,
                             const QByteArray &deviceRows);
};

#endif // VELMORASTATUSJSON_H
