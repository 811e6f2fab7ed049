#ifndef WINETEST_H
#define WINETEST_H

// A test runner for the Windows programs that run under Wine, where QtTest
// is not at hand. Each case is a function registered with WINE_TEST; a
// failed check ends its case and is reported with the row being run. A case
// that does not end within kCaseLimit (a read or write that blocks for good)
// is reported by name and ends the program. The program exits non-zero when
// any case failed.

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace winetest {

struct Case
{
    const char *name;
    void (*run)();
};

inline std::vector<Case> &cases()
{
    static std::vector<Case> all;
    return all;
}

struct State
{
    bool failed = false;
    std::string row;
};

inline State &state()
{
    static State current;
    return current;
}

struct Registrar
{
    Registrar(const char *name, void (*run)()) { cases().push_back(Case{name, run}); }
};

// Guards State::row, which the watchdog reads from its own thread.
inline std::mutex &rowMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Names the data row a case is about to check, for the failure line.
inline void row(const std::string &name)
{
    std::lock_guard<std::mutex> lock(rowMutex());
    state().row = name;
}

inline std::string currentRow()
{
    std::lock_guard<std::mutex> lock(rowMutex());
    return state().row;
}

inline void fail(const char *file, int line, const std::string &what)
{
    state().failed = true;
    std::printf("  FAIL %s:%d: %s%s%s\n", file, line, what.c_str(),
                state().row.empty() ? "" : "  [row: ",
                state().row.empty() ? "" : (state().row + "]").c_str());
}

template <typename T>
std::string show(const T &value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

inline std::string show(const std::string &value)
{
    std::ostringstream text;
    text << '"';
    for (const unsigned char c : value) {
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            text << c;
        } else {
            const char digits[] = "0123456789abcdef";
            text << "\\x" << digits[c >> 4] << digits[c & 15];
        }
    }
    text << '"';
    return text.str();
}

inline std::string show(bool value)
{
    return value ? "true" : "false";
}

// Far beyond the slowest case; only a hang gets near it.
constexpr std::chrono::seconds kCaseLimit{60};

// Ends the program when the case it watches runs past kCaseLimit.
class Watchdog
{
public:
    explicit Watchdog(const char *caseName)
        : watcher([this, caseName] {
              std::unique_lock<std::mutex> lock(mutex);
              if (!finishedCondition.wait_for(lock, kCaseLimit, [this] { return finished; })) {
                  const std::string rowName = currentRow();
                  std::printf("FAIL %s did not end within %lld s%s%s\n", caseName,
                              static_cast<long long>(kCaseLimit.count()),
                              rowName.empty() ? "" : ", row: ", rowName.c_str());
                  std::fflush(stdout);
                  std::_Exit(2);
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            finished = true;
        }
        finishedCondition.notify_one();
        watcher.join();
    }

private:
    std::mutex mutex;
    std::condition_variable finishedCondition;
    bool finished = false;
    std::thread watcher;
};

// Runs every case, or those whose names contain one of the arguments.
inline int runAll(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    int passed = 0;
    int failed = 0;
    for (const Case &testCase : cases()) {
        bool selected = argc <= 1;
        for (int i = 1; i < argc; ++i)
            selected = selected || std::string(testCase.name).find(argv[i]) != std::string::npos;
        if (!selected)
            continue;
        {
            std::lock_guard<std::mutex> lock(rowMutex());
            state() = State();
        }
        const auto start = std::chrono::steady_clock::now();
        {
            const Watchdog watchdog(testCase.name);
            testCase.run();
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        std::printf("%s %s (%lld ms)\n", state().failed ? "FAIL" : "PASS", testCase.name,
                    static_cast<long long>(ms));
        ++(state().failed ? failed : passed);
    }
    std::printf("Totals: %d passed, %d failed\n", passed, failed);
    return failed == 0 && passed > 0 ? 0 : 1;
}

} // namespace winetest

#define WINE_TEST(name)                                                   \
    static void name();                                                   \
    static const winetest::Registrar name##Registrar(#name, name);        \
    static void name()

#define CHECK(condition)                                                  \
    do {                                                                  \
        if (!(condition)) {                                               \
            winetest::fail(__FILE__, __LINE__, #condition);               \
            return;                                                       \
        }                                                                 \
    } while (false)

#define CHECK_MSG(condition, message)                                     \
    do {                                                                  \
        if (!(condition)) {                                               \
            winetest::fail(__FILE__, __LINE__,                            \
                           std::string(#condition) + ": " + (message));   \
            return;                                                       \
        }                                                                 \
    } while (false)

#define CHECK_EQ(actual, expected)                                        \
    do {                                                                  \
        const auto &actualValue = (actual);                               \
        const auto &expectedValue = (expected);                           \
        if (!(actualValue == expectedValue)) {                            \
            winetest::fail(__FILE__, __LINE__,                            \
                           std::string(#actual) + " is "                  \
                               + winetest::show(actualValue)              \
                               + ", expected "                            \
                               + winetest::show(expectedValue));          \
            return;                                                       \
        }                                                                 \
    } while (false)

#endif // WINETEST_H
