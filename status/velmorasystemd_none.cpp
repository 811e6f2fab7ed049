#include "velmorasystemd.h"

bool VelmoraSystemd::notify(const QByteArray &)
{
    return false;
}

std::int64_t VelmoraSystemd::watchdogUs()
{
    return 0;
}
