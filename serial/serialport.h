#ifndef SERIALPORT_H
#define SERIALPORT_H

// The serial port beneath the receiver output, kept free of Qt so that each
// platform's implementation (serialport_posix.cpp, serialport_win.cpp)
// compiles on its own. One object is one port, opened and closed any number
// of times; calls come from one thread at a time.

#include <cstddef>
#include <memory>
#include <string>

// What went wrong with the last operation, whatever the platform reported.
enum class SerialPortError {
    None,
    NoSuchPort,     // the name names no device, or the device does not exist
    AccessDenied,   // no permission, or the port is in use by another program
    Unsupported,    // the device refuses the settings (nine data bits on termios)
    NotOpen,        // the operation needs an open port
    NotSerial,      // the device is not a serial line
    Disconnected,   // the device went away while open
    TimedOut,       // a write that the device did not take in time
    Other,
};

// The four line parameters the receiver output chooses; every other
// parameter of the port stays as the port had it.
struct SerialLineSettings
{
    int baudRate = 19200;
    int dataBits = 8;
    int parity = 0; // 0 none, 1 odd, 2 even: the Windows parity codes
    bool twoStopBits = false;
};

// Read time-outs in the Windows sense: a read ends when all bytes asked for
// are in, when intervalMs pass after a byte without a further byte
// (0: no interval limit), or when totalPerByteMs times the bytes asked for
// plus totalConstantMs have passed since the read began.
struct SerialReadTimeouts
{
    unsigned intervalMs = 0;
    unsigned totalPerByteMs = 0;
    unsigned totalConstantMs = 0;
};

class SerialPort
{
public:
    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // The path the platform opens for a configured port name; empty when the
    // name cannot name a port on this platform.
    static std::string devicePath(const std::string &name);

    // Opens the port for reading and writing. False when it is already open
    // or the device cannot be opened.
    bool open(const std::string &name);
    bool isOpen() const;

    // Reads the port's current line parameters and keeps them; the next
    // applyLineSettings starts from them.
    bool readLineSettings();
    // Writes back the parameters last read (read now if they never were) with
    // the four members of settings changed.
    bool applyLineSettings(const SerialLineSettings &settings);
    // Sets the three read time-outs. Until this is called, and whenever
    // both totals are zero, a read returns at once with what is waiting.
    bool setReadTimeouts(const SerialReadTimeouts &timeouts);

    // Writes all size bytes, blocking. True only when all of them were
    // written; written holds the count either way. A device that stops
    // taking bytes (flow control held by the other side, a stalled driver)
    // fails the write with TimedOut after about 2 s more than the bytes
    // need at the line's speed.
    bool write(const char *data, std::size_t size, std::size_t &written);
    // Reads up to capacity bytes, ended by the read time-outs. A read that
    // times out with fewer bytes, or none, still succeeds.
    bool read(char *buffer, std::size_t capacity, std::size_t &received);
    // Waits up to waitMs for the first byte, then takes what else has
    // already arrived (up to capacity) without waiting for more: an answer
    // is judged the moment it is there. Nothing within waitMs still
    // succeeds, with received 0. The read time-outs play no part here.
    bool readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received, unsigned waitMs);

    // Throws away bytes that arrived and were not read yet. Called before a
    // line is written, so that a late answer to an earlier line can never be
    // taken for the answer to this one.
    bool discardInput();

    // Closing a closed port does nothing.
    void close();

    SerialPortError lastError() const { return error; }
    // The platform's own code (errno, GetLastError) behind lastError().
    int lastSystemError() const { return systemError; }
    // The system's own message for lastSystemError(), for log lines; a short
    // English description of lastError() when no system code is behind it.
    // A port the user may not open also names the group that owns it.
    std::string lastErrorText() const;
    // The last failure means the device is gone: unplugged, its driver
    // stopped, or the name no longer names it.
    bool lastErrorMeansGone() const
    {
        return error == SerialPortError::Disconnected || error == SerialPortError::NoSuchPort;
    }

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
