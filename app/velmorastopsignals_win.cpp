#include "velmorastopsignals.h"

#include "velmoralog.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QString>

#include <cstdlib>

#include <windows.h>

namespace {

void stopWith(const char *eventName)
{
    // Another thread may be in the middle of a batch of lines.
    VelmoraCommon_LogEnd(QStringLiteral("[Lumari] Stopped by signal %1.").arg(QLatin1String(eventName)));
    std::_Exit(0);
}

// Runs on a thread the system starts for the event; the process must end
// before the handler returns, or the system ends it without the line.
BOOL WINAPI consoleEvent(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT:
        stopWith("CTRL_C_EVENT");
        break;
    case CTRL_BREAK_EVENT:
        stopWith("CTRL_BREAK_EVENT");
        break;
    case CTRL_CLOSE_EVENT:
        stopWith("CTRL_CLOSE_EVENT");
        break;
    case CTRL_LOGOFF_EVENT:
        stopWith("CTRL_LOGOFF_EVENT");
        break;
    case CTRL_SHUTDOWN_EVENT:
        stopWith("CTRL_SHUTDOWN_EVENT");
        break;
    default:
        break;
    }
    return FALSE;
}

// A program with a window hears of the end of the session through its
// windows, not through the console handler.
class EndSessionFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "windows_generic_MSG")
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message == WM_ENDSESSION && msg->wParam == TRUE)
            stopWith("WM_ENDSESSION");
        return false;
    }
};

} // namespace

bool VelmoraStopSignals::install()
{
    // Process-lifetime object: the application keeps a pointer to it.
    static EndSessionFilter endSessionFilter;
    static bool installed = false;
    if (installed)
        return true;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(&endSessionFilter);
    installed = SetConsoleCtrlHandler(consoleEvent, TRUE) != FALSE;
    return installed;
}
