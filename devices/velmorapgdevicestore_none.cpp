#include "velmorapgdevicestore.h"

// This build has no libpq: device state stays in spool/, as the journal does.
class VelmoraPgConnection
{
};

VelmoraPgDeviceStore::VelmoraPgDeviceStore(const QString &, const VelmoraSharedJournal &sharedJournal)
    : journal(sharedJournal)
{
}

VelmoraPgDeviceStore::~VelmoraPgDeviceStore() = default;

bool VelmoraPgDeviceStore::open()
{
    lastError = QStringLiteral("no PostgreSQL support in this build");
    return false;
}

QVector<SVelmoraDeviceState> VelmoraPgDeviceStore::devices() const
{
    return {};
}

bool VelmoraPgDeviceStore::save(const QVector<SVelmoraDeviceState> &, bool)
{
    lastError = QStringLiteral("no PostgreSQL support in this build");
    return false;
}

bool VelmoraPgDeviceStore::forget(const QString &)
{
    lastError = QStringLiteral("no PostgreSQL support in this build");
    return false;
}
