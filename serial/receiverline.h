#ifndef RECEIVERLINE_H
#define RECEIVERLINE_H

// The line to the monitoring software, whatever carries it: a serial port or
// a TCP connection to software that listens for receivers. The exchange, the
// open sequence and the worker see only this. Kept free of Qt, like its
// implementations; calls come from one thread at a time.

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
    Disconnected,   // the device went away while open, or the peer closed
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

    bool isDefault() const { return baudRate == 19200 && dataBits == 8 && parity == 0 && !twoStopBits; }
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

class ReceiverLine
{
public:
    virtual ~ReceiverLine() = default;

    // The line for a configured name: a TCP connection for "tcp://HOST:PORT"
    // (any name with that scheme, so that a malformed address fails to open
    // with its reason instead of being taken for a device), else the serial
    // port of that name. Closed.
    static std::unique_ptr<ReceiverLine> forName(const std::string &name);

    // Opens the line for reading and writing. False when it is already open
    // or cannot be opened.
    virtual bool open(const std::string &name) = 0;
    virtual bool isOpen() const = 0;

    // The steps of configuring a serial line; a line without such settings
    // takes them and does nothing.
    virtual bool readLineSettings() = 0;
    virtual bool applyLineSettings(const SerialLineSettings &settings) = 0;
    virtual bool setReadTimeouts(const SerialReadTimeouts &timeouts) = 0;
    // False when the four line parameters have no meaning on this line.
    virtual bool takesLineSettings() const = 0;

    // Writes all size bytes, blocking. True only when all of them were
    // written; written holds the count either way. Bytes the other side
    // does not take for about 2 s fail the write with TimedOut.
    virtual bool write(const char *data, std::size_t size, std::size_t &written) = 0;
    // Waits up to waitMs for the first byte, then takes what else has
    // already arrived (up to capacity) without waiting for more. Nothing
    // within waitMs still succeeds, with received 0.
    virtual bool readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received,
                                 unsigned waitMs) = 0;
    // Throws away bytes that arrived and were not read yet.
    virtual bool discardInput() = 0;
    // Closing a closed line does nothing.
    virtual void close() = 0;

    virtual SerialPortError lastError() const = 0;
    // The system's own message for the last failure, for log lines.
    virtual std::string lastErrorText() const = 0;
    // The last failure means the line is gone: the device unplugged or the
    // connection closed by the other side; it has to be opened again.
    virtual bool lastErrorMeansGone() const
    {
        return lastError() == SerialPortError::Disconnected || lastError() == SerialPortError::NoSuchPort;
    }
};

#endif // RECEIVERLINE_H
