#include "serialport.h"

#include <windows.h>

namespace {

// The Win32 device namespace, so that COM10 and above open like COM1.
const char kDevicePrefix[] = "\\\\.\\";

} // namespace

struct SerialPort::Platform
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    DCB lineSettings{};
    bool haveLineSettings = false;
};

SerialPort::SerialPort() : platform(std::make_unique<Platform>()) {}

SerialPort::~SerialPort()
{
    close();
}

void SerialPort::failWith(int systemCode)
{
    systemError = systemCode;
    switch (systemCode) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        error = SerialPortError::NoSuchPort;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        error = SerialPortError::AccessDenied;
        break;
    case ERROR_INVALID_PARAMETER:
    case ERROR_NOT_SUPPORTED:
        error = SerialPortError::Unsupported;
        break;
    case ERROR_INVALID_HANDLE:
        error = SerialPortError::NotSerial;
        break;
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
        error = SerialPortError::Disconnected;
        break;
    case ERROR_TIMEOUT:
    case ERROR_SEM_TIMEOUT:
        error = SerialPortError::TimedOut;
        break;
    default:
        error = SerialPortError::Other;
        break;
    }
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
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    platform->handle = handle;
    platform->haveLineSettings = false;
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
    lineSettings.BaudRate = static_cast<DWORD>(settings.baudRate);
    lineSettings.ByteSize = static_cast<BYTE>(settings.dataBits);
    lineSettings.Parity = static_cast<BYTE>(settings.parity);
    lineSettings.StopBits = settings.twoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    if (!SetCommState(platform->handle, &lineSettings)) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
    platform->lineSettings = lineSettings;
    succeed();
    return true;
}

bool SerialPort::setReadTimeouts(const SerialReadTimeouts &timeouts)
{
    if (!isOpen()) {
        failWith(SerialPortError::NotOpen);
        return false;
    }
    // The record is used even when it could not be read: the write members
    // then stay zero, meaning no write time-out.
    COMMTIMEOUTS record{};
    GetCommTimeouts(platform->handle, &record);
    record.ReadIntervalTimeout = timeouts.intervalMs;
    record.ReadTotalTimeoutMultiplier = timeouts.totalPerByteMs;
    record.ReadTotalTimeoutConstant = timeouts.totalConstantMs;
    if (!SetCommTimeouts(platform->handle, &record)) {
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
    DWORD count = 0;
    const BOOL ok = WriteFile(platform->handle, data, static_cast<DWORD>(size), &count, nullptr);
    written = count;
    if (!ok) {
        failWith(static_cast<int>(GetLastError()));
        return false;
    }
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
    DWORD count = 0;
    const BOOL ok = ReadFile(platform->handle, buffer, static_cast<DWORD>(capacity), &count, nullptr);
    received = count;
    if (!ok) {
        failWith(static_cast<int>(GetLastError()));
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
}
