#ifndef VELMORAHISTOGRAM_H
#define VELMORAHISTOGRAM_H

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>

// Durations in fixed buckets, from any thread without a lock. The bounds are
// upper limits in microseconds, ascending; a value above the last falls only
// into the implicit +Inf bucket.
class VelmoraHistogram
{
public:
    static constexpr int kMaxBuckets = 16;

    explicit VelmoraHistogram(std::initializer_list<std::int64_t> upperBoundsUs);

    void observeUs(std::int64_t microseconds);

    int bucketCount() const { return bounds; }
    std::int64_t upperBoundUs(int bucket) const { return upperBounds[bucket]; }
    // Values at or below the bucket's bound, not cumulative.
    std::uint64_t bucketValue(int bucket) const { return counts[bucket].load(std::memory_order_relaxed); }
    std::uint64_t count() const { return total.load(std::memory_order_relaxed); }
    std::int64_t sumUs() const { return sum.load(std::memory_order_relaxed); }

private:
    std::array<std::int64_t, kMaxBuckets> upperBounds{};
    std::array<std::atomic<std::uint64_t>, kMaxBuckets> counts{};
    std::atomic<std::uint64_t> total{0};
    std::atomic<std::int64_t> sum{0};
    int bounds = 0;
};

#endif // VELMORAHISTOGRAM_H
