#ifndef VELMORACOUNTER_H
#define VELMORACOUNTER_H

#include <atomic>
#include <cstdint>

// A count that only grows, from any thread.
class VelmoraCounter
{
public:
    void add(std::uint64_t amount = 1) { count.fetch_add(amount, std::memory_order_relaxed); }
    std::uint64_t value() const { return count.load(std::memory_order_relaxed); }

private:
    std::atomic<std::uint64_t> count{0};
};

#endif // VELMORACOUNTER_H
