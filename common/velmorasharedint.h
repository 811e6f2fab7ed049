#ifndef VELMORASHAREDINT_H
#define VELMORASHAREDINT_H

#include <atomic>

// An int that one thread may write while another reads it, and that still
// copies like a plain int so the record holding it keeps value semantics.
// Reads and writes are relaxed: a reader sees either the old or the new value.
class VelmoraSharedInt
{
public:
    // Implicit on purpose: the field is assigned from and read as a plain int.
    VelmoraSharedInt(int initial = 0) noexcept : value(initial) {}
    VelmoraSharedInt(const VelmoraSharedInt &other) noexcept : value(other.load()) {}

    VelmoraSharedInt &operator=(const VelmoraSharedInt &other) noexcept
    {
        store(other.load());
        return *this;
    }
    VelmoraSharedInt &operator=(int newValue) noexcept
    {
        store(newValue);
        return *this;
    }
    operator int() const noexcept { return load(); }

    int load() const noexcept { return value.load(std::memory_order_relaxed); }
    void store(int newValue) noexcept { value.store(newValue, std::memory_order_relaxed); }

private:
    std::atomic<int> value;
};

#endif // VELMORASHAREDINT_H
