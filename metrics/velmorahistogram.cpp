#include "velmorahistogram.h"

VelmoraHistogram::VelmoraHistogram(std::initializer_list<std::int64_t> upperBoundsUs)
{
    for (const std::int64_t bound : upperBoundsUs) {
        if (bounds == kMaxBuckets)
            break;
        upperBounds[bounds++] = bound;
    }
}

void VelmoraHistogram::observeUs(std::int64_t microseconds)
{
    if (microseconds < 0)
        microseconds = 0;
    for (int bucket = 0; bucket < bounds; ++bucket) {
        if (microseconds <= upperBounds[bucket]) {
            counts[bucket].fetch_add(1, std::memory_order_relaxed);
            break;
        }
    }
    sum.fetch_add(microseconds, std::memory_order_relaxed);
    total.fetch_add(1, std::memory_order_relaxed);
}
