#ifndef BOUNDEDCALL_H
#define BOUNDEDCALL_H

// A blocking call that must not hold its caller for longer than a limit:
// looking up a host name, which takes as long as the system's resolver
// (half a minute and more while no name server answers).

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Runs work on a thread of its own and waits for it at most waitMs. True,
// with its result in *result, when it finished in time. Otherwise false:
// the thread goes on by itself, and hands its result to abandoned, which
// frees whatever the result holds, when it does finish.
template <typename Result>
bool runWithin(unsigned waitMs, std::function<Result()> work, std::function<void(Result &)> abandoned,
               Result *result)
{
    struct Shared
    {
        std::mutex mutex;
        std::condition_variable finished;
        bool done = false;
        bool givenUp = false;
        Result result{};
    };
    const auto shared = std::make_shared<Shared>();
    std::thread([shared, work = std::move(work), abandoned = std::move(abandoned)]() mutable {
        Result made = work();
        std::unique_lock<std::mutex> lock(shared->mutex);
        if (shared->givenUp) {
            lock.unlock();
            abandoned(made);
            return;
        }
        shared->result = std::move(made);
        shared->done = true;
        shared->finished.notify_all();
    }).detach();

    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->finished.wait_for(lock, std::chrono::milliseconds(waitMs), [&shared] { return shared->done; })) {
        shared->givenUp = true;
        return false;
    }
    *result = std::move(shared->result);
    return true;
}

#endif // BOUNDEDCALL_H
