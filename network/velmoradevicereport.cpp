#include "velmoradevicereport.h"

#include "velmoralog.h"
#include "velmorareceiverreport.h"

namespace {

const char kAbsent[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Device %2 not heard for %3 s: absence (E350) reported.");
const char kAbsenceNotJournaled[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Can not journal the absence (E350) of device %2, tried again in a second: %3.");
const char kRestored[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Device %2 heard again: restore (R350) reported.");
const char kRefusedNotListed[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Device %2 from %3:%4 refused: not listed.");
const char kRefusedMacDiffers[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Device %2 from %3:%4 refused: MAC differs: expected %5, got %6.");
const char kMacChanged[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Device %2 presents a new MAC %4 (was %3); it is kept from now on.");
const char kListRead[] = QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Device list %2 read: %3 device(s).");
const char kListUnreadable[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Can not read the device list %2: %3.");
const char kListRowSkipped[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Device list %2, line %3 skipped: %4.");
const char kStateNotSaved[] =
    QT_TRANSLATE_NOOP("VelmoraNetworkServer", "[%1] Can not keep the state of the devices: %2.");
const char kSupervisionForTesting[] = QT_TRANSLATE_NOOP(
    "VelmoraNetworkServer", "[%1] Supervision period %2 s is below 30 s: accepted for testing only.");
const char kNone[] = "none";

QString macOrNone(const QString &mac)
{
    return mac.isEmpty() ? QString::fromLatin1(kNone) : mac;
}

} // namespace

SVelmoraLogLine VelmoraDeviceReport::absent(const QString &deviceId, int periodS)
{
    return VelmoraReceiverReport::tagged(kAbsent, kLogError, {deviceId, QString::number(periodS)});
}

SVelmoraLogLine VelmoraDeviceReport::absenceNotJournaled(const QString &deviceId, const QString &reason)
{
    return VelmoraReceiverReport::tagged(kAbsenceNotJournaled, kLogError, {deviceId, reason});
}

SVelmoraLogLine VelmoraDeviceReport::restored(const QString &deviceId)
{
    return VelmoraReceiverReport::tagged(kRestored, kLogError, {deviceId});
}

SVelmoraLogLine VelmoraDeviceReport::refusedNotListed(const QString &deviceId, const QString &peerAddress,
                                                      quint16 peerPort)
{
    return VelmoraReceiverReport::tagged(kRefusedNotListed, kLogError, {deviceId, peerAddress, QString::number(peerPort)});
}

SVelmoraLogLine VelmoraDeviceReport::refusedMacDiffers(const QString &deviceId, const QString &peerAddress,
                                                       quint16 peerPort, const QString &expectedMac,
                                                       const QString &presentedMac)
{
    return VelmoraReceiverReport::tagged(kRefusedMacDiffers, kLogError,
                                   {deviceId, peerAddress, QString::number(peerPort), expectedMac,
                                    macOrNone(presentedMac)});
}

SVelmoraLogLine VelmoraDeviceReport::macChanged(const QString &deviceId, const QString &oldMac, const QString &newMac)
{
    return VelmoraReceiverReport::tagged(kMacChanged, kLogError, {deviceId, oldMac, newMac});
}

SVelmoraLogLine VelmoraDeviceReport::listRead(const QString &path, int devices)
{
    return VelmoraReceiverReport::tagged(kListRead, kLogInfo, {path, QString::number(devices)});
}

SVelmoraLogLine VelmoraDeviceReport::listUnreadable(const QString &path, const QString &reason)
{
    return VelmoraReceiverReport::tagged(kListUnreadable, kLogError, {path, reason});
}

SVelmoraLogLine VelmoraDeviceReport::listRowSkipped(const QString &path, int lineNumber, const QString &reason)
{
    return VelmoraReceiverReport::tagged(kListRowSkipped, kLogError, {path, QString::number(lineNumber), reason});
}

SVelmoraLogLine VelmoraDeviceReport::stateNotSaved(const QString &reason)
{
    return VelmoraReceiverReport::tagged(kStateNotSaved, kLogError, {reason});
}

SVelmoraLogLine VelmoraDeviceReport::supervisionForTesting(int periodS)
{
    return VelmoraReceiverReport::tagged(kSupervisionForTesting, kLogError, {QString::number(periodS)});
}
