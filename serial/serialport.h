#ifndef SERIALPORT_H
#define SERIALPORT_H

// The serial port beneath the receiver output, kept free of Qt so that each
// platform's implementation (serialport_posix.cpp, serialport_win.cpp)
// compiles on its own. One object is one port, opened and closed any number
// of times; calls come from one thread at a time.

#include "receiverline.h"

#include <memory>
#include <string>

class SerialPort : public ReceiverLine
{
public:
    SerialPort();
    ~SerialPort() override;
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // The path the platform opens for a configured port name; empty when the
    // name cannot name a port on this platform.
    static std::string devicePath(const std::string &name);

    // Opens the port for reading and writing. False when it is already open
    // or the device cannot be opened.
    bool open(const std::string &name) override;
    bool isOpen() const override;

    // Reads the port's current line parameters and keeps them; the next
    // applyLineSettings starts from them.
    bool readLineSettings() override;
    // Writes back the parameters last read (read now if they never were) with
    // the four members of settings changed.
    bool applyLineSettings(const SerialLineSettings &settings) override;
    // Sets the three read time-outs. Until this is called, and whenever
    // both totals are zero, a read returns at once with what is waiting.
    bool setReadTimeouts(const SerialReadTimeouts &timeouts) override;

    // Writes all size bytes, blocking. True only when all of them were
    // written; written holds the count either way. A device that stops
    // taking bytes (flow control held by the other side, a stalled driver)
    // fails the write with TimedOut after about 2 s more than the bytes
    // need at the line's speed.
    bool write(const char *data, std::size_t size, std::size_t &written) override;
    // Reads up to capacity bytes, ended by the read time-outs. A read that
    // times out with fewer bytes, or none, still succeeds.
    bool read(char *buffer, std::size_t capacity, std::size_t &received);
    // Waits up to waitMs for the first byte, then takes what else has
    // already arrived (up to capacity) without waiting for more: an answer
    // is judged the moment it is there. Nothing within waitMs still
    // succeeds, with received 0. The read time-outs play no part here.
    bool readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received, unsigned waitMs) override;

    // Throws away bytes that arrived and were not read yet. Called before a
    // line is written, so that a late answer to an earlier line can never be
    // taken for the answer to this one.
    bool discardInput() override;

    // Closing a closed port does nothing.
    void close() override;

    SerialPortError lastError() const override { return error; }
    // The platform's own code (errno, GetLastError) behind lastError().
    int lastSystemError() const { return systemError; }
    // The system's own message for lastSystemError(), for log lines; a short
    // English description of lastError() when no system code is behind it.
    // A port the user may not open also names the group that owns it.
    std::string lastErrorText() const override;
    // The last failure means the device is gone: unplugged, its driver
    // stopped, or the name no longer names it.
    bool lastErrorMeansGone() const override
    {
        return error == SerialPortError::Disconnected || error == SerialPortError::NoSuchPort;
    }
    bool takesLineSettings() const override { return true; }

private:
    struct Platform;

    // Sets lastError() from the platform's code; the one place that maps
    // platform codes, defined in each implementation.
    void failWith(int systemCode);
    void failWith(SerialPortError reason);
    void succeed();
    // The system's message for a platform code, defined in each
    // implementation.
    static std::string systemMessage(int systemCode);

    std::unique_ptr<Platform> platform;
    SerialPortError error = SerialPortError::None;
    int systemError = 0;
    // Said after the system's message; set by the platform after failWith.
    std::string errorDetail;
};

#endif // SERIALPORT_H
