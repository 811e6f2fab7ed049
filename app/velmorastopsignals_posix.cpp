#include "velmorastopsignals.h"

#include "velmoralog.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace {

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Both ends live as long as the process.
int stopPipe[2] = {-1, -1};

extern "C" void passStopSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // The write end does not block: with the pipe full a stop is already on
    // its way.
    const ssize_t written = ::write(stopPipe[1], &byte, 1);
    static_cast<void>(written);
    errno = savedErrno;
}

void waitForStop()
{
    unsigned char byte = 0;
    for (;;) {
        const ssize_t count = ::read(stopPipe[0], &byte, 1);
        if (count == 1)
            break;
        if (count < 0 && errno == EINTR)
            continue;
        // The pipe cannot fail while the process holds both ends; should it,
        // the stop still ends the process, only without its number.
        byte = 0;
        break;
    }
    // Another thread may be in the middle of a batch of lines.
    VelmoraCommon_LogEnd(QStringLiteral("[Lumari] Stopped by signal %1.").arg(int(byte)));
    std::_Exit(0);
}

} // namespace

bool VelmoraStopSignals::install()
{
    if (stopPipe[0] != -1)
        return true;
    if (::pipe(stopPipe) != 0)
        return false;
    for (const int fd : stopPipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(stopPipe[1], F_SETFL, ::fcntl(stopPipe[1], F_GETFL) | O_NONBLOCK);

    // Process-lifetime thread: it ends only with the process.
    std::thread(waitForStop).detach();

    struct sigaction action {};
    action.sa_handler = passStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    bool installed = true;
    for (const int signalNumber : kStopSignals) {
        if (::sigaction(signalNumber, &action, nullptr) != 0)
            installed = false;
    }
    return installed;
}
