#include "velmorasystemd.h"

#include <systemd/sd-daemon.h>

bool VelmoraSystemd::notify(const QByteArray &state)
{
    return sd_notify(0, state.constData()) > 0;
}

std::int64_t VelmoraSystemd::watchdogUs()
{
    uint64_t usec = 0;
    return sd_watchdog_enabled(0, &usec) > 0 ? std::int64_t(usec) : 0;
}
