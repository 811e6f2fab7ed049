// Saves device states in the directory it is given until it is killed,
// the way a kill would end Lumari at any moment.
//
//   device_state_crash_child DIRECTORY
//
// Save number i keeps device (i mod 20) with lastHeardAt = i, every other
// one durably; after each save returns, i is printed on its own line. The
// test kills the process and checks that every printed save is kept.

#include "velmoradevicestatefile.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cstdio>

namespace {
constexpr int kDevices = 20;
constexpr int kSetupFailed = 1;
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return kSetupFailed;
    VelmoraDeviceStateFile store(args.at(1));
    if (!store.open())
        return kSetupFailed;
    qint64 next = 1;
    for (const SVelmoraDeviceState &state : store.devices())
        next = std::max(next, state.lastHeardAt + 1);
    for (qint64 i = next;; ++i) {
        SVelmoraDeviceState state;
        state.deviceId = QStringLiteral("0A0B%1").arg(int(i % kDevices), 2, 16, QLatin1Char('0')).toUpper();
        state.mac = QStringLiteral("0102030405060708");
        state.lastHeardAt = i;
        state.absenceReported = i % 3 == 0;
        if (!store.save({state}, i % 2 == 0))
            return kSetupFailed;
        std::printf("%lld\n", static_cast<long long>(i));
        std::fflush(stdout);
    }
}
