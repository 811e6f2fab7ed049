#include "comportchoices.h"

namespace {

const int kComPortCount = 99;

} // namespace

QStringList comPortChoices(const QString &configuredName, const QStringList &machinePorts)
{
    QStringList numbered;
    numbered.reserve(kComPortCount);
    for (int number = 1; number <= kComPortCount; ++number)
        numbered << QStringLiteral("COM%1").arg(number);

    QStringList choices;
    for (const QString &port : machinePorts) {
        if (!port.isEmpty() && !choices.contains(port) && !numbered.contains(port))
            choices << port;
    }
    choices << numbered;
    if (!configuredName.isEmpty() && !choices.contains(configuredName))
        choices.prepend(configuredName);
    return choices;
}
