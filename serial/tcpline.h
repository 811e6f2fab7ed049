#ifndef TCPLINE_H
#define TCPLINE_H

// The line to monitoring software that listens for receivers on TCP: one
// client connection to "tcp://HOST:PORT", carrying the same lines and answers
// as a serial port. Plain sockets, free of Qt; each platform's part lives in
// tcpline_posix.cpp or tcpline_win.cpp.

#include "receiverline.h"

#include <chrono>
#include <memory>
#include <string>

class TcpLine : public ReceiverLine
{
public:
    TcpLine();
    ~TcpLine() override;
    TcpLine(const TcpLine &) = delete;
    TcpLine &operator=(const TcpLine &) = delete;

    // How long a connection attempt may take before it counts as failed.
    static constexpr unsigned kConnectLimitMs = 3000;
    // How long looking up the host's name may take; the lookup goes on by
    // itself after that, so the line does not wait on the system's resolver.
    static constexpr unsigned kLookUpLimitMs = 5000;
    // How long bytes may wait to be taken before a write fails.
    static constexpr unsigned kWriteStallLimitMs = 2000;

    // Resolves the host and connects, trying each address it has in turn.
    bool open(const std::string &name) override;
    bool isOpen() const override;

    // A TCP connection has no line parameters or read time-outs: these
    // succeed and change nothing.
    bool readLineSettings() override;
    bool applyLineSettings(const SerialLineSettings &settings) override;
    bool setReadTimeouts(const SerialReadTimeouts &timeouts) override;
    bool takesLineSettings() const override { return false; }

    bool write(const char *data, std::size_t size, std::size_t &written) override;
    bool readFirstWithin(char *buffer, std::size_t capacity, std::size_t &received, unsigned waitMs) override;
    bool discardInput() override;
    void close() override;

    SerialPortError lastError() const override { return error; }
    std::string lastErrorText() const override;

private:
    struct Platform;

    // Sets the error with the system's message for the platform's code.
    void failWithSystem(SerialPortError reason, int systemCode);
    void failWith(SerialPortError reason, const std::string &text);
    // The other side closed or reset the connection: every later call
    // fails the same way until the line is closed.
    void peerClosed(int systemCode);
    void succeed();
    bool checkOpen();
    // Milliseconds until the deadline, rounded up; 0 once it has passed.
    static unsigned msUntil(std::chrono::steady_clock::time_point deadline);
    // Waits up to waitMs for bytes (or the peer's close) to read, or, for
    // a write, for room to write: 1 when there is, 0 when the time ran
    // out, -1 after a failure (set).
    int waitFor(bool forWrite, unsigned waitMs);

    // The platform's parts.
    static std::string systemMessage(int systemCode);
    bool connectTo(const std::string &host, unsigned short port);
    // One wait of at most waitMs as waitFor's; 0 may also come early.
    int waitOnce(bool forWrite, unsigned waitMs);
    // Reads what is there without waiting: bytes read, 0 when nothing is
    // there, -1 after a failure (set) or when the peer closed.
    long readAvailable(char *buffer, std::size_t capacity);
    // Sends what the system takes now: bytes taken, 0 when it takes none
    // now, -1 after a failure (set) or when the peer closed.
    long sendAvailable(const char *data, std::size_t size);
    // What a failed send or receive with the system's code means for the
    // two above: 0 when it only had to wait, -1 otherwise (set).
    long transferFailed(int systemCode);

    std::unique_ptr<Platform> platform;
    SerialPortError error = SerialPortError::None;
    std::string errorText;
    bool gone = false;
};

#endif // TCPLINE_H
