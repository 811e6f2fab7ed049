#include "serialport.h"

#include <windows.h>

namespace {

// The Win32 device namespace, so that COM10 and above open like COM1.
const char kDevicePrefix[] = "\\\\.\\";

// A write is given up on when the device has not taken it this long after
// the time its bytes need at the line's speed, so that a line stopped by
// the other side cannot block the worker for good.
constexpr DWORD kWriteStallLimitMs = 2000;
// Start bit, eight data bits, parity bit and two stop bits: the longest
// character on the line.
constexpr DWORD kLongestCharacterBits = 12;
// The slowest speed the settings offer, assumed while the port's own is not
// known.
constexpr DWORD kSlowestBaudRate = 75;

DWORD writeMsPerByte(DWORD baudRate)
{
    if (baudRate == 0)
        baudRate = kSlowestBaudRate;
    const DWORD perByte = (kLongestCharacterBits * 1000 + baudRate - 1) / baudRate;
    return perByte == 0 ? 1 : perByte;
}

// The whole time-out record: the port's own values are never kept, since a
// fresh handle may carry none at all (reads and writes that wait for ever).
COMMTIMEOUTS timeoutRecord(const SerialReadTimeouts &read, DWORD baudRate)
{
    COMMTIMEOUTS record{};
    if (read.totalPerByteMs == 0 && read.totalConstantMs == 0) {
        // All-zero totals would mean "wait for every byte"; this is the
        // documented shape of "return at once with what is waiting".
        record.ReadIntervalTimeout = MAXDWORD;
    } else {
        // MAXDWORD as the interval has a meaning of its own.
        record.ReadIntervalTimeout = read.intervalMs < MAXDWORD ? read.intervalMs : MAXDWORD - 1;
        record.ReadTotalTimeoutMultiplier = read.totalPerByteMs;
        record.ReadTotalTimeoutConstant = read.totalConstantMs;
    }
    record.WriteTotalTimeoutMultiplier = writeMsPerByte(baudRate);
    record.WriteTotalTimeoutConstant = kWriteStallLimitMs;
    return record;
}

// A read that waits up to waitMs for the bytes it asks for and no longer;
// the write limits as always. Asked for one byte, it ends with that byte.
COMMTIMEOUTS waitRecord(unsigned waitMs, DWORD baudRate)
{
    SerialReadTimeouts read;
    read.totalConstantMs = waitMs;
    return timeoutRecord(read, baudRate);
}

// One ReadFile under whatever time-outs are on the handle; ERROR_SUCCESS or
// the code that ended it.
DWORD readFromHandle(HANDLE handle, char *buffer, std::size_t capacity, std::size_t &received)
{
    DWORD count = 0;
    const BOOL ok = ReadFile(handle, buffer, static_cast<DWORD>(capacity), &count, nullptr);
    received = count;
    return ok ? static_cast<DWORD>(ERROR_SUCCESS) : GetLastError();
}

// A raw binary line without flow control, as on the POSIX side: nothing may
// hold a write back or change a byte. DTR and RTS stay as the port had them,
// unless they were left to a handshake.
void makeRawWithoutFlowControl(DCB &lineSettings)
{
    lineSettings.fBinary = TRUE;
    lineSettings.fOutxCtsFlow = FALSE;
    lineSettings.fOutxDsrFlow = FALSE;
    lineSettings.fDsrSensitivity = FALSE;
    lineSettings.fOutX = FALSE;
    lineSettings.fInX = FALSE;
    if (lineSettings.fDtrControl == DTR_CONTROL_HANDSHAKE)
        lineSettings.fDtrControl = DTR_CONTROL_ENABLE;
    if (lineSettings.fRtsControl == RTS_CONTROL_HANDSHAKE
        || lineSettings.fRtsControl == RTS_CONTROL_TOGGLE)
        lineSettings.fRtsControl = RTS_CONTROL_ENABLE;
    lineSettings.fErrorChar = FALSE;
    lineSettings.fNull = FALSE;
    // Otherwise one framing error stops all reads and writes until
    // ClearCommError is called.
    lineSettings.fAbortOnError = FALSE;
}

} // namespace

struct SerialPort::Platform
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB lineSettings{};
    bool haveLineSettings = false;
    SerialReadTimeouts readTimeouts;
    DWORD baudRate = 0;

    // False until a time-out record of ours is on the handle.
    bool haveTimeouts = false;
    // The record on the handle is the one for the last first-byte read, not
    // the configured read time-outs.
    bool firstByteRecordOn = false;

    bool applyTimeouts()
    {
        COMMTIMEOUTS record = timeoutRecord(readTimeouts, baudRate);
        haveTimeouts = SetCommTimeouts(handle, &record) != 0;
        firstByteRecordOn = false;
        return haveTimeouts;
    }
    // Writes never run on a handle without time-outs; both records carry
    // the same write limits.
    bool ensureTimeouts() { return haveTimeouts || applyTimeouts(); }
    // Reads run with the configured read time-outs.
    bool ensureReadTimeouts() { return (haveTimeouts && !firstByteRecordOn) || applyTimeouts(); }
    // A record of the first-byte read's own.
    bool applyWaitTimeouts(unsigned waitMs)
    {
        COMMTIMEOUTS record = waitRecord(waitMs, baudRate);
        haveTimeouts = SetCommTimeouts(handle, &record) != 0;
        firstByteRecordOn = haveTimeouts;
        return haveTimeouts;
    }
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
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        error = SerialPortError::NoSuchPort;
        break;
    case ERROR_ACCESS_DENIED:
        // A handle that is open already is refused only when its device
        // went away (a USB adapter pulled out).
        error = isOpen() ? SerialPortError::Disconnected : SerialPortError::AccessDenied;
        break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        error = SerialPortError::AccessDenied;
        break;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        error = SerialPortError::Unsupported;
        break;
    case ERROR_INVALID_HANDLE:
    case ERROR_INVALID_FUNCTION:
        error = SerialPortError::NotSerial;
        break;
    // What a port whose device went away reports: the other end of a
    // virtual port closed, a USB adapter pulled, a driver that stopped.
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
    case ERROR_BROKEN_PIPE:
        error = SerialPortError::Disconnected;
        break;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
    case ERROR_COUNTER_TIMEOUT:
        error = SerialPortError::TimedOut;
        break;
    default:
        error = SerialPortError::Other;
        break;
    }
}

std::string SerialPort::systemMessage(int systemCode)
{
    char *buffer = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(systemCode), 0, reinterpret_cast<char *>(&buffer), 0, nullptr);
    std::string message = length > 0 && buffer ? std::string(buffer, length) : std::string();
    LocalFree(buffer);
    while (!message.empty()
           && (message.back() == '\r' || message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    return message;
}

std::string SerialPort::devicePath(const std::string &name)
{
    return kDevicePrefix + name;
}

bool SerialPort::open(const std::string &name)
{
    if (isOpen()) {
        failWith(static_cast<int>(ERROR_BUSY));
        return false;
    }
    const std::string path = devicePath(name);
    // A COM port is opened for exclusive use.
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    platform->handle = handle;
    platform->haveLineSettings = false;
    platform->readTimeouts = SerialReadTimeouts();
    DCB lineSettings{};
    lineSettings.DCBlength = sizeof lineSettings;
    platform->baudRate = GetCommState(handle, &lineSettings) ? lineSettings.BaudRate : 0;
    // A fresh handle may carry no time-outs at all: reads and writes that
    // wait for ever. A device that takes none is still open (reading its
    // settings then reports what it is); read and write try again first.
    platform->haveTimeouts = platform->applyTimeouts();
    succeed();
    return true;
}

bool SerialPort::isOpen() const
{
    // A zero handle also counts as closed.
    return platform->handle != INVALID_HANDLE_VALUE && platform->handle != nullptr;
}

bool SerialPort::readLineSettings()
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    DCB lineSettings{};
    lineSettings.DCBlength = sizeof lineSettings;
    if (!GetCommState(platform->handle, &lineSettings)) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    platform->lineSettings = lineSettings;
    platform->haveLineSettings = true;
    succeed();
    return true;
}

bool SerialPort::applyLineSettings(const SerialLineSettings &settings)
{
    if (!platform->haveLineSettings && !readLineSettings())
        return false;
    DCB lineSettings = platform->lineSettings;
    makeRawWithoutFlowControl(lineSettings);
    lineSettings.BaudRate = static_cast<DWORD>(settings.baudRate);
    lineSettings.ByteSize = static_cast<BYTE>(settings.dataBits);
    lineSettings.Parity = static_cast<BYTE>(settings.parity);
    lineSettings.StopBits = settings.twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    if (!SetCommState(platform->handle, &lineSettings)) {
        const DWORD code = GetLastError();
        // A driver may have taken some members before it refused one (the
        // speed before nine data bits): put back what the port had rather
        // than leave half the change.
        SetCommState(platform->handle, &platform->lineSettings);
        failWith(static_cast<int>(code));
        return false;
    }
    platform->lineSettings = lineSettings;
    // The write limit follows the line's new speed.
    platform->baudRate = lineSettings.BaudRate;
    if (!platform->applyTimeouts()) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    succeed();
    return true;
}

bool SerialPort::setReadTimeouts(const SerialReadTimeouts &timeouts)
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    const SerialReadTimeouts previous = platform->readTimeouts;
    platform->readTimeouts = timeouts;
    if (!platform->applyTimeouts()) {
        platform->readTimeouts = previous;
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
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
    if (!platform->ensureTimeouts()) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    DWORD count = 0;
    const BOOL ok = WriteFile(platform->handle, data, static_cast<DWORD>(size), &count, nullptr);
    written = count;
    if (!ok) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    // The write time-out ends a write successfully with fewer bytes.
    if (written != size) {
        failWith(static_cast<int>(ERROR_TIMEOUT));
        return false;
    }
    succeed();
    return true;
}

bool SerialPort::read(char *buffer, std::size_t capacity, std::size_t &received)
{
    received = 0;
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    if (!platform->ensureReadTimeouts()) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    const DWORD failure = readFromHandle(platform->handle, buffer, capacity, received);
    if (failure != ERROR_SUCCESS) {
        failWith(static_cast<int>(failure));
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
    if (capacity == 0) {
        succeed();
        return true;
    }
    // One byte asked for under a total time-out ends with that byte; what
    // came with it is then taken under a time-out of nothing. (The single
    // record documented for "return with the first byte" is not honoured by
    // every serial layer.)
    if (!platform->applyWaitTimeouts(waitMs)) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    DWORD failure = readFromHandle(platform->handle, buffer, 1, received);
    if (failure == ERROR_SUCCESS && received == 1 && capacity > 1) {
        if (!platform->applyWaitTimeouts(0)) {
            failWith(static_cast<int>(GetLastError()));
            return false;
        }
        std::size_t more = 0;
        failure = readFromHandle(platform->handle, buffer + 1, capacity - 1, more);
        received += more;
    }
    if (failure != ERROR_SUCCESS) {
        failWith(static_cast<int>(failure));
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
    if (!PurgeComm(platform->handle, PURGE_RXCLEAR)) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    succeed();
    return true;
}

void SerialPort::close()
{
    if (isOpen())
        CloseHandle(platform->handle);
    platform->handle = INVALID_HANDLE_VALUE;
    platform->haveLineSettings = false;
    platform->haveTimeouts = false;
}
