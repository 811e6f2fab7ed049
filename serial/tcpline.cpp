#include "tcpline.h"

#include "tcpaddress.h"

#include <chrono>

// The parts of the TCP line that are the same on every platform.

namespace {

using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

} // namespace

unsigned TcpLine::msUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count() + 1;
    return left < 0 ? 0u : static_cast<unsigned>(left);
}

bool TcpLine::open(const std::string &name)
{
    if (isOpen()) {
        failWith(SerialPortError::Other, "the connection is already open");
        return false;
    }
    TcpAddress address;
    std::string reason;
    if (!TcpAddressName::parse(name, address, reason)) {
        failWith(SerialPortError::NoSuchPort, "not a valid address: " + reason);
        return false;
    }
    gone = false;
    if (!connectTo(address.host, address.port))
        return false;
    succeed();
    return true;
}

bool TcpLine::readLineSettings()
{
    return checkOpen();
}

bool TcpLine::applyLineSettings(const SerialLineSettings &)
{
    return checkOpen();
}

bool TcpLine::setReadTimeouts(const SerialReadTimeouts &)
{
    return checkOpen();
}

bool TcpLine::readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received, unsigned waitMs)
{
    received = 0;
    if (!checkOpen())
        return false;
    if (capacity == 0) {
        succeed();
        return true;
    }
    const int ready = waitFor(false, waitMs);
    if (ready < 0)
        return false;
    if (ready == 0) {
        succeed();
        return true;
    }
    // Whatever came with the first byte, and nothing that comes later.
    const long count = readAvailable(buffer, capacity);
    if (count < 0)
        return false;
    received = static_cast<std::size_t>(count);
    succeed();
    return true;
}

bool TcpLine::discardInput()
{
    if (!checkOpen())
        return false;
    char scrap[512];
    for (;;) {
        const long count = readAvailable(scrap, sizeof scrap);
        if (count < 0)
            return false;
        if (count == 0)
            break;
    }
    succeed();
    return true;
}

bool TcpLine::write(const char *data, std::size_t size, std::size_t &written)
{
    written = 0;
    if (!checkOpen())
        return false;
    // The limit is on a stall, not on the whole write: a slow reader that
    // keeps taking bytes is waited for.
    Clock::time_point stallDeadline = Clock::now() + Milliseconds(kWriteStallLimitMs);
    while (written < size) {
        const long count = sendAvailable(data + written, size - written);
        if (count < 0)
            return false;
        if (count > 0) {
            written += static_cast<std::size_t>(count);
            stallDeadline = Clock::now() + Milliseconds(kWriteStallLimitMs);
            continue;
        }
        if (Clock::now() >= stallDeadline) {
            failWith(SerialPortError::TimedOut, "the other side took no bytes for 2 s");
            return false;
        }
        if (waitOnce(true, msUntil(stallDeadline)) < 0)
            return false;
    }
    succeed();
    return true;
}

int TcpLine::waitFor(bool forWrite, unsigned waitMs)
{
    const Clock::time_point deadline = Clock::now() + Milliseconds(waitMs);
    for (;;) {
        const int ready = waitOnce(forWrite, msUntil(deadline));
        if (ready != 0)
            return ready;
        if (Clock::now() >= deadline)
            return 0;
    }
}

bool TcpLine::checkOpen()
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen, "the connection is not open");
        return false;
    }
    if (gone)
        return false; // the error of the close stays
    return true;
}

void TcpLine::failWithSystem(SerialPortError reason, int systemCode)
{
    error = reason;
    errorText = systemMessage(systemCode);
    if (errorText.empty())
        errorText = "system error " + std::to_string(systemCode);
}

void TcpLine::failWith(SerialPortError reason, const std::string &text)
{
    error = reason;
    errorText = text;
}

void TcpLine::peerClosed(int systemCode)
{
    gone = true;
    if (systemCode == 0)
        failWith(SerialPortError::Disconnected, "the connection was closed by the other side");
    else
        failWithSystem(SerialPortError::Disconnected, systemCode);
}

void TcpLine::succeed()
{
    error = SerialPortError::None;
    errorText.clear();
}

std::string TcpLine::lastErrorText() const
{
    return error == SerialPortError::None ? std::string("no error") : errorText;
}
