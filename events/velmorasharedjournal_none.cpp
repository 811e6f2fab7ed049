#include "velmorasharedjournal.h"

// This build has no libpq: the journal stays in spool/.
class VelmoraSharedJournal::Worker
{
};

VelmoraSharedJournal::VelmoraSharedJournal(VelmoraClock &clockToUse, QObject *parent)
    : QObject(parent), clock(clockToUse)
{
}

VelmoraSharedJournal::~VelmoraSharedJournal() = default;

bool VelmoraSharedJournal::isAvailable()
{
    return false;
}

void VelmoraSharedJournal::setTiming(const VelmoraLease::Timing &value)
{
    timing = value;
}

bool VelmoraSharedJournal::start(const QString &, const QString &)
{
    lastError = QStringLiteral("no PostgreSQL support in this build");
    return false;
}

QString VelmoraSharedJournal::errorString() const
{
    return lastError;
}

VelmoraEventStore *VelmoraSharedJournal::store() const
{
    return nullptr;
}

bool VelmoraSharedJournal::holdsLease() const
{
    return false;
}

QString VelmoraSharedJournal::owner() const
{
    return QString();
}

qint64 VelmoraSharedJournal::leaseEpoch() const
{
    return 0;
}
