#include "serialindexmaps.h"

namespace {

constexpr int kBaudRates[] = {75, 110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kBaudRateCount = static_cast<int>(sizeof kBaudRates / sizeof kBaudRates[0]);
constexpr int kDefaultBaudIndex = 7;
constexpr int kDataBits[] = {7, 8, 9};
constexpr int kDefaultThreeWayIndex = 1;

} // namespace

int checkBaudRateIndex(int index)
{
    return index >= 0 && index < kBaudRateCount ? index : kDefaultBaudIndex;
}

int baudRateFromIndex(int index)
{
    return kBaudRates[checkBaudRateIndex(index)];
}

int checkThreeWayIndex(int index)
{
    return index >= 0 && index <= 2 ? index : kDefaultThreeWayIndex;
}

int dataBitsFromIndex(int index)
{
    return kDataBits[checkThreeWayIndex(index)];
}

int checkStopBitsIndex(int index)
{
    return index == 1 ? 1 : 0;
}
