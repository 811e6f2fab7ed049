#include "velmoradevicestatetext.h"

#include <QDateTime>

#include <algorithm>

VelmoraDeviceStateText::Shown VelmoraDeviceStateText::shownOf(const SVelmoraKnownDevice &device, bool connected)
{
    using State = SVelmoraKnownDevice::State;
    switch (device.state) {
    case State::RefusedNotListed:
        return Shown::RefusedNotListed;
    case State::RefusedMacDiffers:
        return Shown::RefusedMacDiffers;
    case State::Absent:
        return Shown::AbsentSince;
    case State::Heard:
        return connected ? Shown::Connected : Shown::HeardAgo;
    case State::NotHeard:
        break;
    }
    return connected ? Shown::Connected : Shown::NotHeard;
}

QString VelmoraDeviceStateText::pattern(Shown shown)
{
    switch (shown) {
    case Shown::Connected:
        return tr("connected");
    case Shown::HeardAgo:
        return tr("heard %1 s ago");
    case Shown::NotHeard:
        return tr("not heard since the start");
    case Shown::AbsentSince:
        return tr("absent since %1");
    case Shown::RefusedNotListed:
        return tr("refused: not listed");
    case Shown::RefusedMacDiffers:
        return tr("refused: MAC differs");
    }
    return QString();
}

const char *VelmoraDeviceStateText::name(Shown shown)
{
    switch (shown) {
    case Shown::Connected:
        return "connected";
    case Shown::HeardAgo:
        return "heard";
    case Shown::NotHeard:
        return "notHeard";
    case Shown::AbsentSince:
        return "absent";
    case Shown::RefusedNotListed:
        return "refusedNotListed";
    case Shown::RefusedMacDiffers:
        return "refusedMacDiffers";
    }
    return "";
}

QString VelmoraDeviceStateText::text(const SVelmoraKnownDevice &device, bool connected, qint64 now)
{
    const Shown shown = shownOf(device, connected);
    switch (shown) {
    case Shown::HeardAgo:
        return pattern(shown).arg(std::max<qint64>(0, (now - device.lastHeardAt) / 1000));
    case Shown::AbsentSince:
        return pattern(shown).arg(QDateTime::fromMSecsSinceEpoch(device.absentSince).toString(QStringLiteral("hh:mm")));
    default:
        return pattern(shown);
    }
}

QString VelmoraDeviceStateText::notSupervised()
{
    return tr("not supervised");
}
