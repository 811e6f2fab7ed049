#include "serialport.h"

// The parts of the port that are the same on every platform.

void SerialPort::failWith(SerialPortError reason)
{
    systemError = 0;
    errorDetail.clear();
    error = reason;
}

void SerialPort::succeed()
{
    systemError = 0;
    errorDetail.clear();
    error = SerialPortError::None;
}

std::string SerialPort::lastErrorText() const
{
    if (systemError != 0) {
        const std::string message = systemMessage(systemError);
        if (!message.empty())
            return errorDetail.empty() ? message : message + "; " + errorDetail;
    }
    switch (error) {
    case SerialPortError::None:
        return "no error";
    case SerialPortError::NoSuchPort:
        return "no such port";
    case SerialPortError::AccessDenied:
        return "access denied";
    case SerialPortError::Unsupported:
        return "setting not supported by the device";
    case SerialPortError::NotOpen:
        return "the port is not open";
    case SerialPortError::NotSerial:
        return "not a serial port";
    case SerialPortError::Disconnected:
        return "the device is gone";
    case SerialPortError::TimedOut:
        return "the device did not take the bytes in time";
    case SerialPortError::Other:
        break;
    }
    return "unknown error";
}
