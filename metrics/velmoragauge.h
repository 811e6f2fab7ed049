#ifndef VELMORAGAUGE_H
#define VELMORAGAUGE_H

#include <atomic>
#include <cstdint>

// A value that goes up and down, from any thread.
class VelmoraGauge
{
public:
    void set(std::int64_t newValue) { current.store(newValue, std::memory_order_relaxed); }
    void add(std::int64_t amount) { current.fetch_add(amount, std::memory_order_relaxed); }
    std::int64_t value() const { return current.load(std::memory_order_relaxed); }

private:
    std::atomic<std::int64_t> current{0};
};

#endif // VELMORAGAUGE_H
