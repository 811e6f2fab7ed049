// The Windows serial port against a pseudo-terminal station under Wine.
// ptystation.py holds the station and maps COM5 to it; each case starts
// from a fresh pseudo-terminal. Settings are read back from the station's
// own descriptor of the line, so they are what the line really holds.
// Linux pseudo-terminals keep eight data bits and no parity whatever is
// asked, so only speed, stop bits and flow control can be seen there.

#include "serialport.h"
#include "stationclient.h"

#include "winetest.h"

namespace winetest {
inline std::string show(SerialPortError error)
{
    return "SerialPortError(" + std::to_string(static_cast<int>(error)) + ")";
}
} // namespace winetest

#include <chrono>
#include <string>
#include <vector>

namespace {

const char kPortName[] = "COM5";
const SerialReadTimeouts kReceiverTimeouts{100, 300, 50};

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool openConfigured(SerialPort &port, const SerialLineSettings &settings = SerialLineSettings())
{
    return port.open(kPortName) && port.readLineSettings() && port.applyLineSettings(settings)
           && port.setReadTimeouts(kReceiverTimeouts);
}

struct TimedRead
{
    bool ok = false;
    std::string bytes;
    long long ms = 0;
};

// firstByteWithinMs 0: a read under the port's time-outs; otherwise a
// first-byte read given that long.
TimedRead timedRead(SerialPort &port, std::size_t asked, unsigned firstByteWithinMs = 0)
{
    char buffer[16] = {};
    std::size_t received = 0;
    TimedRead result;
    const Clock::time_point start = Clock::now();
    result.ok = firstByteWithinMs == 0 ? port.read(buffer, asked, received)
                                       : port.readFirstWithin(buffer, asked, received, firstByteWithinMs);
    result.ms = msSince(start);
    result.bytes.assign(buffer, received);
    return result;
}

std::string range(long long value, long long low, long long high)
{
    return std::to_string(value) + " ms, wanted " + std::to_string(low) + ".."
           + std::to_string(high);
}

} // namespace

WINE_TEST(devicePath)
{
    CHECK_EQ(SerialPort::devicePath("COM1"), std::string("\\\\.\\COM1"));
    CHECK_EQ(SerialPort::devicePath("COM12"), std::string("\\\\.\\COM12"));
}

WINE_TEST(openFailures)
{
    struct Row
    {
        const char *name;
        SerialPortError error;
    };
    const Row rows[] = {
        {"COM200", SerialPortError::NoSuchPort},
        {"", SerialPortError::NoSuchPort},
    };
    for (const Row &row : rows) {
        winetest::row(row.name);
        SerialPort port;
        CHECK(!port.open(row.name));
        CHECK(!port.isOpen());
        CHECK_EQ(port.lastError(), row.error);
        CHECK(port.lastSystemError() != 0);
        CHECK_MSG(!port.lastErrorText().empty(), "no reason");
    }
}

WINE_TEST(openTwiceRefused)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(port.open(kPortName));
    CHECK(!port.open(kPortName));
    CHECK(port.isOpen());
    port.close();
    port.close();
    CHECK(!port.isOpen());
    CHECK(port.open(kPortName));
}

// Before any read time-out is set a read takes what is waiting and returns.
WINE_TEST(freshPortReadsReturnAtOnce)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(port.open(kPortName));
    TimedRead silent = timedRead(port, 2);
    CHECK(silent.ok);
    CHECK_EQ(silent.bytes, std::string());
    CHECK_MSG(silent.ms < 300, range(silent.ms, 0, 300));

    CHECK(StationClient::send("\x06"));
    TimedRead answered = timedRead(port, 4);
    CHECK(answered.ok);
    CHECK_EQ(answered.bytes, std::string("\x06"));
    CHECK_MSG(answered.ms < 300, range(answered.ms, 0, 300));

    // Zero totals mean the same once time-outs are set.
    CHECK(port.setReadTimeouts(SerialReadTimeouts{100, 0, 0}));
    silent = timedRead(port, 2);
    CHECK(silent.ok);
    CHECK_MSG(silent.ms < 300, range(silent.ms, 0, 300));
}

WINE_TEST(lineSettingsReachTheLine)
{
    struct Row
    {
        int baudRate;
        bool twoStopBits;
    };
    const Row rows[] = {
        {75, true},    {110, false},  {300, false},   {1200, false},
        {2400, false}, {4800, false}, {9600, true},   {19200, false},
        {38400, false}, {57600, false}, {115200, true},
    };
    for (const Row &row : rows) {
        winetest::row(std::to_string(row.baudRate) + (row.twoStopBits ? " 2 stop" : " 1 stop"));
        CHECK(StationClient::renew());
        SerialPort port;
        CHECK(port.open(kPortName));
        CHECK(port.readLineSettings());
        CHECK(port.applyLineSettings(SerialLineSettings{row.baudRate, 8, 0, row.twoStopBits}));
        CHECK_EQ(StationClient::lineSetting("speed"), long(row.baudRate));
        CHECK_EQ(StationClient::lineSetting("cstopb"), long(row.twoStopBits));
    }
    winetest::row("7 data bits, odd and even parity");
    SerialPort port;
    CHECK(port.open(kPortName));
    CHECK(port.applyLineSettings(SerialLineSettings{9600, 7, 1, false}));
    CHECK(port.applyLineSettings(SerialLineSettings{9600, 7, 2, true}));
}

// Flow control another program left on the port is cleared; the other
// members of the device-control record are kept.
WINE_TEST(flowControlCleared)
{
    CHECK(StationClient::renew(true));
    CHECK_EQ(StationClient::lineSetting("crtscts"), 1L);
    SerialPort port;
    CHECK(openConfigured(port));
    CHECK_EQ(StationClient::lineSetting("crtscts"), 0L);
    CHECK_EQ(StationClient::lineSetting("ixon"), 0L);
    CHECK_EQ(StationClient::lineSetting("ixoff"), 0L);
    CHECK_EQ(StationClient::lineSetting("vstart"), 1L);

    // XON and XOFF pass as data both ways.
    const std::string outgoing("\x13\x11\x14", 3);
    std::size_t written = 0;
    CHECK(port.write(outgoing.data(), outgoing.size(), written));
    CHECK_EQ(StationClient::take(outgoing.size(), 2000), outgoing);
    CHECK(StationClient::send(std::string("\x13\x06", 2)));
    CHECK_EQ(timedRead(port, 2).bytes, std::string("\x13\x06", 2));
}

WINE_TEST(refusedSettingsKeepThePortOpen)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(port.open(kPortName));
    CHECK(port.applyLineSettings(SerialLineSettings{9600, 8, 0, true}));
    CHECK(!port.applyLineSettings(SerialLineSettings{19200, 9, 0, false}));
    CHECK_EQ(port.lastError(), SerialPortError::Unsupported);
    CHECK(port.isOpen());
    // Nothing of the refused change is left on the line.
    CHECK_EQ(StationClient::lineSetting("speed"), 9600L);
    CHECK_EQ(StationClient::lineSetting("cstopb"), 1L);
    CHECK(port.applyLineSettings(SerialLineSettings()));
    CHECK_EQ(StationClient::lineSetting("speed"), 19200L);
}

WINE_TEST(bytesPassUnchanged)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(openConfigured(port));
    const std::string outgoing("\r\n\x11\x13\x03\xff\x00\x14", 8);
    std::size_t written = 0;
    CHECK(port.write(outgoing.data(), outgoing.size(), written));
    CHECK_EQ(written, outgoing.size());
    CHECK_EQ(StationClient::take(outgoing.size(), 2000), outgoing);

    const std::string incoming("\r\x03\x00", 3);
    CHECK(StationClient::send(incoming));
    CHECK_EQ(timedRead(port, 3).bytes, incoming);
    // Nothing echoed back.
    CHECK_EQ(StationClient::take(1, 100), std::string());
}

WINE_TEST(readTimeouts)
{
    struct Row
    {
        const char *name;
        std::size_t asked;
        std::string answer;
        int answerAfterMs;
        long long atLeastMs;
        long long atMostMs;
        unsigned firstByteWithinMs;
    };
    // 300 ms per byte asked plus 50; one byte ends a read 100 ms after it.
    // A first-byte read ends with the first byte, whatever the time-outs.
    const Row rows[] = {
        {"silent, two bytes asked", 2, "", 0, 640, 3000, 0},
        {"silent, three bytes asked", 3, "", 0, 940, 3000, 0},
        {"one byte of two", 2, "\x06", 0, 95, 600, 0},
        {"one byte arriving late but in time", 2, "\x06", 400, 490, 2000, 0},
        {"all bytes asked for", 2, "\x06\x06", 0, 0, 300, 0},
        {"more bytes than asked", 2, "\x15\x06\x06", 0, 0, 300, 0},
        {"first byte: silent", 2, "", 0, 390, 3000, 400},
        {"first byte: one byte of two ends it", 2, "\x06", 0, 0, 1500, 5000},
        {"first byte: late but in time", 2, "\x06", 300, 290, 1800, 5000},
        {"first byte: more than asked", 2, "\x15\x06\x06", 0, 0, 1500, 5000},
    };
    for (const Row &row : rows) {
        winetest::row(row.name);
        CHECK(StationClient::renew());
        SerialPort port;
        CHECK(openConfigured(port));
        if (!row.answer.empty())
            CHECK(StationClient::send(row.answer, row.answerAfterMs));
        const TimedRead read = timedRead(port, row.asked, row.firstByteWithinMs);
        CHECK(read.ok);
        CHECK_EQ(read.bytes, row.answer.substr(0, row.asked));
        CHECK_MSG(read.ms >= row.atLeastMs && read.ms <= row.atMostMs,
                  range(read.ms, row.atLeastMs, row.atMostMs));
        if (row.answer.size() > row.asked)
            CHECK_EQ(timedRead(port, 3).bytes, row.answer.substr(row.asked));
    }
}

WINE_TEST(discardDropsALateAnswer)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(openConfigured(port));
    CHECK(StationClient::send("\x06"));
    CHECK(port.discardInput());
    TimedRead read = timedRead(port, 2);
    CHECK(read.ok);
    CHECK_EQ(read.bytes, std::string());
    // What comes after the discard is read.
    CHECK(StationClient::send("\x15"));
    read = timedRead(port, 2);
    CHECK_EQ(read.bytes, std::string("\x15"));
}

// A station that stops reading, with no flow control anywhere: the line
// fills up and the first write that cannot go out gives up with TimedOut
// within about two seconds, instead of holding the serial thread for good.
WINE_TEST(stalledWriteGivesUp)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(openConfigured(port, SerialLineSettings{115200, 8, 0, false}));
    CHECK(StationClient::request("stall"));

    const std::string line(256, '5');
    constexpr int kMostWrites = 16384; // 4 MiB, far more than a line buffers
    bool failed = false;
    long long failedAfterMs = 0;
    std::size_t written = 0;
    for (int i = 0; i < kMostWrites && !failed; ++i) {
        const Clock::time_point start = Clock::now();
        failed = !port.write(line.data(), line.size(), written);
        failedAfterMs = msSince(start);
        CHECK_MSG(failedAfterMs < 5000, range(failedAfterMs, 0, 5000));
    }
    CHECK_MSG(failed, "every write went through");
    CHECK_EQ(port.lastError(), SerialPortError::TimedOut);
    CHECK(written < line.size());
    CHECK_MSG(failedAfterMs >= 1500 && failedAfterMs <= 3500, range(failedAfterMs, 1500, 3500));
    CHECK(!port.lastErrorText().empty());
    CHECK(port.isOpen());

    // Once the station reads again, so does the line.
    std::string drained;
    CHECK(StationClient::request("drain 300", &drained));
    CHECK(std::stol(drained) > 0);
    CHECK(port.write(line.data(), line.size(), written));
    CHECK_EQ(StationClient::take(line.size(), 2000), line);
}

WINE_TEST(vanishedPeer)
{
    CHECK(StationClient::renew());
    SerialPort port;
    CHECK(openConfigured(port));
    CHECK(StationClient::request("hangup"));

    const char line[] = "1011           @    \x14";
    std::size_t written = 0;
    Clock::time_point start = Clock::now();
    CHECK(!port.write(line, sizeof line - 1, written));
    CHECK_EQ(port.lastError(), SerialPortError::Disconnected);
    CHECK_MSG(msSince(start) < 3000, range(msSince(start), 0, 3000));
    CHECK(!port.lastErrorText().empty());

    // Wine reads nothing from a vanished line once the time-outs have
    // passed; Windows drivers fail the read. Either way it ends in time.
    const TimedRead read = timedRead(port, 2);
    CHECK_MSG(read.ms < 3000, range(read.ms, 0, 3000));
    CHECK_EQ(read.bytes, std::string());
    if (!read.ok)
        CHECK_EQ(port.lastError(), SerialPortError::Disconnected);
    CHECK(port.isOpen());
    port.close();
    CHECK(!port.isOpen());
}

WINE_TEST(closedPortRefusesIo)
{
    SerialPort port;
    char buffer[2] = {};
    std::size_t count = 7;
    CHECK(!port.read(buffer, sizeof buffer, count));
    CHECK_EQ(count, std::size_t(0));
    CHECK(!port.write(buffer, sizeof buffer, count));
    CHECK_EQ(port.lastError(), SerialPortError::NotOpen);
    CHECK_EQ(port.lastErrorText(), std::string("the port is not open"));
    CHECK(!port.readLineSettings());
    CHECK(!port.applyLineSettings(SerialLineSettings()));
    CHECK(!port.setReadTimeouts(kReceiverTimeouts));
    CHECK(!port.discardInput());
}

int main(int argc, char **argv)
{
    return winetest::runAll(argc, argv);
}
