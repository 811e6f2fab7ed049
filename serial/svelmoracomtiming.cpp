#include "svelmoracomtiming.h"

#include <limits>

int SVelmoraComTiming::keepalivePeriodMs(int configuredSeconds)
{
    constexpr int kMillisecondsPerSecond = 1000;
    if (configuredSeconds <= 0)
        return 0;
    if (configuredSeconds > std::numeric_limits<int>::max() / kMillisecondsPerSecond)
        return std::numeric_limits<int>::max();
    return configuredSeconds * kMillisecondsPerSecond;
}
