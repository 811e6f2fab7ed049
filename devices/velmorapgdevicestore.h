#ifndef VELMORAPGDEVICESTORE_H
#define VELMORAPGDEVICESTORE_H

#include "velmoradevicestore.h"

#include <QHash>
#include <QString>

#include <memory>

class VelmoraPgConnection;
class VelmoraSharedJournal;

// The device store in the database of the journal shared in PostgreSQL,
// one row per device, so that the instance taking over knows every device
// the previous active knew, with its MAC and its reported absence.
//
// Each save() is one statement, hence one transaction, written only while
// the lease row names this instance and its grant (locked for the
// statement, as the journal's appends do), and true only once the commit
// is answered with the lease still held: the devices get their ACKs after
// that, as after the file's flush. A commit is durable, so saves that need
// not be are no cheaper. The connection is the network thread's own.
//
// Built with libpq where the build has it; elsewhere open() says why.
class VelmoraPgDeviceStore : public VelmoraDeviceStore
{
public:
    VelmoraPgDeviceStore(const QString &connectionString, const VelmoraSharedJournal &journal);
    ~VelmoraPgDeviceStore() override;

    bool open() override;
    QVector<SVelmoraDeviceState> devices() const override;
    bool save(const QVector<SVelmoraDeviceState> &states, bool durable) override;
    bool forget(const QString &deviceId) override;
    QString errorString() const override { return lastError; }

    // How long a statement may wait for its answer at most.
    static constexpr qint64 kStatementTimeoutMs = 5000;

private:
    const VelmoraSharedJournal &journal;
    std::unique_ptr<VelmoraPgConnection> connection;
    QHash<QString, SVelmoraDeviceState> states;
    QString lastError;
};

#endif // VELMORAPGDEVICESTORE_H
