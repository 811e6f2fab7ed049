#ifndef VELMORADEVICELISTSOURCE_H
#define VELMORADEVICELISTSOURCE_H

#include "svelmoralogline.h"
#include "velmoradevicelist.h"

#include <QDateTime>
#include <QObject>
#include <QString>

class QFileSystemWatcher;

// Where the device list comes from: the operator's file, watched, and looked
// at again on every poll, because a watcher says nothing of a file replaced
// by a rename. Reading it reports its bad rows and what was read.
class VelmoraDeviceListSource : public QObject
{
    Q_OBJECT

public:
    explicit VelmoraDeviceListSource(QObject *parent = nullptr);

    // Empty: there is no list.
    void setPath(const QString &path);
    QString path() const { return listPath; }
    void setReporter(SVelmoraLogLine::Sink sink);

    // Starts watching the file's folder; the file itself is watched once it
    // exists.
    void watch();
    // The file as it is now, read afresh (no rows when there is none).
    VelmoraDeviceList::Parsed read();
    // True when the file appeared, went or changed since it was last read.
    bool changedSinceRead() const;

signals:
    // The watcher saw the file or its folder change.
    void changedSignal();

private:
    QString listPath;
    SVelmoraLogLine::Sink report;
    QFileSystemWatcher *watcher = nullptr;
    // What the file looked like when it was read: its time and size.
    QDateTime modified;
    qint64 size = -1;
    bool exists = false;
};

#endif // VELMORADEVICELISTSOURCE_H
