#include "serialport.h"

#include "serialtermios.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

const char kComPrefix[] = "COM";
const char kComDevicePrefix[] = "/dev/ttyS";
// Windows numbers its COM ports from 1 to 255.
constexpr long kHighestComNumber = 255;
// A device that takes no byte for this long is given up on, so that a line
// stopped by the other side cannot block the worker for good.
constexpr Milliseconds kWriteStallLimit{2000};

int pollFor(int fd, short events, Milliseconds wait, short &revents)
{
    pollfd entry{fd, events, 0};
    const auto count = wait.count() < 0 ? 0 : wait.count();
    const int result = ::poll(&entry, 1, static_cast<int>(count));
    revents = entry.revents;
    return result;
}

// Whom to ask for access to a device: on most systems the serial lines
// belong to a group (dialout, uucp) that the user has to be in.
std::string ownerGroupText(const std::string &path)
{
    struct stat status{};
    if (::stat(path.c_str(), &status) != 0)
        return std::string();
    std::vector<char> buffer(4096);
    group entry{};
    group *found = nullptr;
    if (::getgrgid_r(status.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return "the device belongs to group " + std::to_string(status.st_gid);
    return std::string("the device belongs to group ") + found->gr_name;
}

Milliseconds remainingUntil(Clock::time_point deadline)
{
    return std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()) + Milliseconds(1);
}

} // namespace

struct SerialPort::Platform
{
    int fd = -1;
    termios attributes{};
    bool haveAttributes = false;
    SerialReadTimeouts timeouts;
};

SerialPort::SerialPort() : platform(std::make_unique<Platform>()) {}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::failWith(int systemCode)
{
    systemError = systemCode;
    errorDetail.clear();
    switch (systemCode) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case ENOTDIR:
    case ENAMETOOLONG:
        error = SerialPortError::NoSuchPort;
        break;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EROFS:
        error = SerialPortError::AccessDenied;
        break;
    case EINVAL:
        error = SerialPortError::Unsupported;
        break;
    case ENOTTY:
        error = SerialPortError::NotSerial;
        break;
    case EIO:
    case EBADF:
        error = SerialPortError::Disconnected;
        break;
    case ETIMEDOUT:
        error = SerialPortError::TimedOut;
        break;
    default:
        error = SerialPortError::Other;
        break;
    }
}

std::string SerialPort::systemMessage(int systemCode)
{
    return std::generic_category().message(systemCode);
}

std::string SerialPort::devicePath(const std::string &name)
{
    if (!name.empty() && name.front() == '/')
        return name;

    const std::string prefix(kComPrefix);
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return std::string();
    const std::string digits = name.substr(prefix.size());
    if (digits.size() > 3 || digits.front() == '0')
        return std::string();
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return std::string();
    }
    const long number = std::strtol(digits.c_str(), nullptr, 10);
    if (number < 1 || number > kHighestComNumber)
        return std::string();
    return kComDevicePrefix + std::to_string(number - 1);
}

bool SerialPort::open(const std::string &name)
{
    if (isOpen()) {
        failWith(EBUSY);
        return false;
    }
    const std::string path = devicePath(name);
    if (path.empty()) {
        failWith(SerialPortError::NoSuchPort);
        return false;
    }
    // Not the controlling terminal: a hang-up on the line must not end the
    // program.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failWith(errno);
        if (error == SerialPortError::AccessDenied && systemError != EBUSY)
            errorDetail = ownerGroupText(path);
        return false;
    }
    platform->fd = fd;
    platform->haveAttributes = false;
    platform->timeouts = SerialReadTimeouts();
    succeed();
    return true;
}

bool SerialPort::isOpen() const
{
    return platform->fd >= 0;
}

bool SerialPort::readLineSettings()
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    if (::tcgetattr(platform->fd, &platform->attributes) != 0) {
        failWith(errno);
        return false;
    }
    platform->haveAttributes = true;
    succeed();
    return true;
}

bool SerialPort::applyLineSettings(const SerialLineSettings &settings)
{
    if (!platform->haveAttributes && !readLineSettings())
        return false;

    termios attributes = platform->attributes;
    if (!serialTermiosAttributes(settings, attributes)) {
        failWith(SerialPortError::Unsupported);
        return false;
    }
    if (::tcsetattr(platform->fd, TCSANOW, &attributes) != 0) {
        failWith(errno);
        return false;
    }
    termios applied{};
    if (::tcgetattr(platform->fd, &applied) != 0) {
        failWith(errno);
        return false;
    }
    if (!serialTermiosLineMatches(attributes, applied)) {
        // Put back what the port had rather than leave half the change.
        ::tcsetattr(platform->fd, TCSANOW, &platform->attributes);
        failWith(SerialPortError::Unsupported);
        return false;
    }
    platform->attributes = attributes;
    succeed();
    return true;
}

bool SerialPort::setReadTimeouts(const SerialReadTimeouts &timeouts)
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    platform->timeouts = timeouts;
    succeed();
    return true;
}

bool SerialPort::write(const char *data, std::size_t size, std::size_t &written)
{
    written = 0;
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    Clock::time_point stallDeadline = Clock::now() + kWriteStallLimit;
    while (written < size) {
        const ssize_t count = ::write(platform->fd, data + written, size - written);
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            stallDeadline = Clock::now() + kWriteStallLimit;
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failWith(errno);
            return false;
        }
        if (Clock::now() >= stallDeadline) {
            failWith(ETIMEDOUT);
            return false;
        }
        short revents = 0;
        if (pollFor(platform->fd, POLLOUT, remainingUntil(stallDeadline), revents) < 0
            && errno != EINTR) {
            failWith(errno);
            return false;
        }
        if (revents & (POLLERR | POLLNVAL)) {
            failWith(EIO);
            return false;
        }
    }
    succeed();
    return true;
}

namespace {

// Reads until capacity bytes are in or the deadline passes, and, when
// gapLimited, also once gap has passed after a byte without another (a zero
// gap: once the bytes already there are taken). Returns 0 or the errno that
// ended the read.
int readUntil(int fd, char *buffer, std::size_t capacity, std::size_t &received,
              Clock::time_point totalDeadline, bool gapLimited, Milliseconds gap)
{
    Clock::time_point lastByte = Clock::now();
    while (received < capacity) {
        Clock::time_point deadline = totalDeadline;
        if (received > 0 && gapLimited && lastByte + gap < deadline)
            deadline = lastByte + gap;
        const Clock::time_point now = Clock::now();
        const Milliseconds wait =
            now >= deadline ? Milliseconds(0) : remainingUntil(deadline);

        short revents = 0;
        const int ready = pollFor(fd, POLLIN, wait, revents);
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready > 0) {
            if (revents & POLLNVAL)
                return EBADF;
            // Bytes that arrived before a hang-up are still read; the hang-up
            // itself shows as an error or end of file from read().
            const ssize_t count = ::read(fd, buffer + received, capacity - received);
            if (count > 0) {
                received += static_cast<std::size_t>(count);
                lastByte = Clock::now();
                continue;
            }
            const bool nothingYet = count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK);
            if (!nothingYet || (revents & (POLLHUP | POLLERR)))
                return count < 0 && !nothingYet ? errno : EIO;
        }
        if (Clock::now() >= deadline)
            break;
    }
    return 0;
}

} // namespace

bool SerialPort::read(char *buffer, std::size_t capacity, std::size_t &received)
{
    received = 0;
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    const SerialReadTimeouts &timeouts = platform->timeouts;
    const Clock::time_point totalDeadline =
        Clock::now() + Milliseconds(static_cast<long long>(timeouts.totalPerByteMs) * capacity
                                    + timeouts.totalConstantMs);
    const int failure = readUntil(platform->fd, buffer, capacity, received, totalDeadline,
                                  timeouts.intervalMs > 0, Milliseconds(timeouts.intervalMs));
    if (failure != 0) {
        failWith(failure);
        return false;
    }
    succeed();
    return true;
}

bool SerialPort::readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received,
                                 unsigned waitMs)
{
    received = 0;
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    const int failure = readUntil(platform->fd, buffer, capacity, received,
                                  Clock::now() + Milliseconds(waitMs), true, Milliseconds(0));
    if (failure != 0) {
        failWith(failure);
        return false;
    }
    succeed();
    return true;
}

bool SerialPort::discardInput()
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    if (::tcflush(platform->fd, TCIFLUSH) != 0) {
        failWith(errno);
        return false;
    }
    succeed();
    return true;
}

void SerialPort::close()
{
    if (platform->fd >= 0) {
        ::close(platform->fd);
        platform->fd = -1;
    }
    platform->haveAttributes = false;
}
