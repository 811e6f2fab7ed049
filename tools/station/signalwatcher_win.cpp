#include "signalwatcher.h"

#include <QMetaObject>

#include <mutex>
#include <windows.h>

namespace {

// Once the handler returns from a console that closes, a log-off or a
// shutdown, the system ends the process; it waits this long for the station
// to print its summary (the system allows about 5 s).
constexpr DWORD kCloseGraceMs = 4000;

// Process-wide by nature: the handler runs on a thread of the system's own
// and can reach nothing else.
std::mutex watcherMutex;
SignalWatcher *watcher = nullptr;
// Set when the watcher goes, that is once the station has finished.
HANDLE finishedEvent = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    {
        const std::lock_guard<std::mutex> lock(watcherMutex);
        if (!watcher)
            return FALSE;
        SignalWatcher *target = watcher;
        // Posted to the watcher's thread; dropped if the watcher goes first.
        QMetaObject::invokeMethod(
            target, [target, type] { emit target->terminationRequested(int(type)); }, Qt::QueuedConnection);
    }
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && finishedEvent)
        WaitForSingleObject(finishedEvent, kCloseGraceMs);
    return TRUE;
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent)
    : QObject(parent)
{
    {
        const std::lock_guard<std::mutex> lock(watcherMutex);
        if (watcher)
            return;
        if (!finishedEvent)
            finishedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        else
            ResetEvent(finishedEvent);
        watcher = this;
    }
    watching = SetConsoleCtrlHandler(onConsoleEvent, TRUE) != 0;
    if (!watching) {
        const std::lock_guard<std::mutex> lock(watcherMutex);
        watcher = nullptr;
    }
}

SignalWatcher::~SignalWatcher()
{
    {
        // The handler may be waiting for this: let it go before taking it
        // off the system's list.
        const std::lock_guard<std::mutex> lock(watcherMutex);
        if (watcher != this)
            return;
        watcher = nullptr;
        if (finishedEvent)
            SetEvent(finishedEvent);
    }
    if (watching)
        SetConsoleCtrlHandler(onConsoleEvent, FALSE);
}
