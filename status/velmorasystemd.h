#ifndef VELMORASYSTEMD_H
#define VELMORASYSTEMD_H

#include <QByteArray>

#include <cstdint>

// The service manager's notification socket (sd_notify). On systems without
// systemd every call does nothing.
namespace VelmoraSystemd {

// Sends one or more "NAME=value" lines; false when there is no manager to
// tell (NOTIFY_SOCKET unset) or the message could not be sent.
bool notify(const QByteArray &state);
// The unit's WatchdogSec in microseconds, 0 when no watchdog is asked for.
std::int64_t watchdogUs();

} // namespace VelmoraSystemd

#endif // VELMORASYSTEMD_H
