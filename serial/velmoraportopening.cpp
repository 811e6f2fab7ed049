#include "velmoraportopening.h"

#include <QtGlobal>

namespace {

using Prefix = VelmoraComReport::Prefix;
constexpr int kTwoStopBitsChoice = 1;

bool openDevice(ReceiverLine &port, const SVelmoraComSettings &settings)
{
    return port.open(settings.portName.toUtf8().toStdString());
}

bool readSettings(ReceiverLine &port, const SVelmoraComSettings &)
{
    return port.readLineSettings();
}

SerialLineSettings lineSettings(const SVelmoraComSettings &settings)
{
    SerialLineSettings line;
    line.baudRate = settings.baudRate;
    line.dataBits = settings.dataBits;
    line.parity = settings.parity;
    line.twoStopBits = settings.stopBits == kTwoStopBitsChoice;
    return line;
}

bool applySettings(ReceiverLine &port, const SVelmoraComSettings &settings)
{
    return port.applyLineSettings(lineSettings(settings));
}

bool setTimeouts(ReceiverLine &port, const SVelmoraComSettings &settings)
{
    return port.setReadTimeouts(VelmoraPortOpening::readTimeouts(settings.timing));
}

} // namespace

namespace VelmoraPortOpening {

const std::array<VelmoraPortOpenStep, 4> &steps()
{
    static const std::array<VelmoraPortOpenStep, 4> table{{
        {openDevice,
         {Prefix::Spaced, nullptr, false, nullptr, QT_TRANSLATE_NOOP("VelmoraCom", " opened successfully!")},
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Couldn't open "), true, ".", nullptr}},
        {readSettings,
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Setting for "), false, nullptr,
          QT_TRANSLATE_NOOP("VelmoraCom", " received successfully!")},
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Couldn't receive settings for "), false, "!", nullptr}},
        {applySettings,
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " User's settings for "), false, nullptr,
          QT_TRANSLATE_NOOP("VelmoraCom", " was set successfully!")},
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Couldn't set user's settings for "), false, "!", nullptr}},
        {setTimeouts,
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Timeout's settings for "), false, nullptr,
          QT_TRANSLATE_NOOP("VelmoraCom", " was set successfully!")},
         {Prefix::Short, QT_TRANSLATE_NOOP("VelmoraCom", " Couldn't set timeout's settings for "), false, "!",
          nullptr}},
    }};
    return table;
}

const VelmoraComPortLine readyLine{Prefix::Spaced, nullptr, false, nullptr,
                                   QT_TRANSLATE_NOOP("VelmoraCom", " is ready to work!")};
const VelmoraComPortLine closedLine{Prefix::Spaced, nullptr, false, nullptr,
                                    QT_TRANSLATE_NOOP("VelmoraCom", " was closed successfully!")};
const VelmoraComPortLine notOpenLine{Prefix::Spaced, nullptr, false, "!", nullptr};

bool settingsIgnored(const ReceiverLine &line, const SVelmoraComSettings &settings)
{
    return !line.takesLineSettings() && !lineSettings(settings).isDefault();
}

VelmoraComReport ignoredSettingsReport(const QString &portName)
{
    return VelmoraComReport(Prefix::Short)
        .translated(QT_TRANSLATE_NOOP("VelmoraCom", " Baud rate, data bits, parity and stop bits do not apply to "))
        .plain(portName)
        .translated(QT_TRANSLATE_NOOP("VelmoraCom", " and are ignored."));
}

SerialReadTimeouts readTimeouts(const SVelmoraComTiming &timing)
{
    SerialReadTimeouts timeouts;
    timeouts.intervalMs = static_cast<unsigned>(qMax(0, timing.readIntervalMs));
    timeouts.totalPerByteMs = static_cast<unsigned>(qMax(0, timing.readPerByteMs));
    timeouts.totalConstantMs = static_cast<unsigned>(qMax(0, timing.readConstantMs));
    return timeouts;
}

} // namespace VelmoraPortOpening
