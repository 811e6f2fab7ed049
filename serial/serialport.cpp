#include "serialport.h"

// The parts of the port that are the same on every platform.

void SerialPort::failWith(SerialPortError reason)
{
    systemError = 0;
    error = reason;
}

void SerialPort::succeed()
{
    systemError = 0;
    error = SerialPortError::None;
}
