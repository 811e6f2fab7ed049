#include "journallisting.h"

JournalListing JournalListing::readDatabase(const QString &)
{
    JournalListing listing;
    listing.inDatabase = true;
    listing.outcome = Outcome::Unreadable;
    listing.problem = QStringLiteral("can not read the event journal in PostgreSQL: no PostgreSQL support in this build");
    return listing;
}
