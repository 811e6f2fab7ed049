#include "serialtermios.h"

namespace {

struct BaudRate
{
    int bitsPerSecond;
    speed_t code;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},       {75, B75},       {110, B110},     {134, B134},       {150, B150},
    {200, B200},     {300, B300},     {600, B600},     {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},   {9600, B9600},   {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool speedCode(int bitsPerSecond, speed_t &code)
{
    for (const BaudRate &rate : kBaudRates) {
        if (rate.bitsPerSecond == bitsPerSecond) {
            code = rate.code;
            return true;
        }
    }
    return false;
}

bool characterSizeFlag(int dataBits, tcflag_t &flag)
{
    switch (dataBits) {
    case 5:
        flag = CS5;
        return true;
    case 6:
        flag = CS6;
        return true;
    case 7:
        flag = CS7;
        return true;
    case 8:
        flag = CS8;
        return true;
    default:
        // termios has no nine-bit characters.
        return false;
    }
}

// A Windows COM handle always moves bytes unchanged, so the line is made
// raw: no echo, no line editing, no translation either way, no signals from
// characters, no flow control, modem lines ignored, receiver on.
void makeRaw(termios &attributes)
{
    attributes.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR
                                                 | ICRNL | IXON | IXOFF | IXANY);
    attributes.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    attributes.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    attributes.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    attributes.c_cflag |= CREAD | CLOCAL;
    // Reads go through poll on a non-blocking descriptor; these only keep a
    // plain read() from waiting.
    attributes.c_cc[VMIN] = 1;
    attributes.c_cc[VTIME] = 0;
}

constexpr tcflag_t kLineFlags = CSIZE | PARENB | PARODD | CSTOPB;

} // namespace

bool serialTermiosAttributes(const SerialLineSettings &settings, termios &attributes)
{
    speed_t speed = B0;
    tcflag_t characterSize = CS8;
    if (!speedCode(settings.baudRate, speed) || !characterSizeFlag(settings.dataBits, characterSize)
        || settings.parity < 0 || settings.parity > 2)
        return false;

    termios changed = attributes;
    makeRaw(changed);
    if (::cfsetispeed(&changed, speed) != 0 || ::cfsetospeed(&changed, speed) != 0)
        return false;
    changed.c_cflag &= ~kLineFlags;
    changed.c_cflag |= characterSize;
    if (settings.parity == 1)
        changed.c_cflag |= PARENB | PARODD;
    else if (settings.parity == 2)
        changed.c_cflag |= PARENB;
    if (settings.twoStopBits)
        changed.c_cflag |= CSTOPB;
    attributes = changed;
    return true;
}

bool serialTermiosLineMatches(const termios &wanted, const termios &actual)
{
    return (wanted.c_cflag & kLineFlags) == (actual.c_cflag & kLineFlags)
           && ::cfgetospeed(&wanted) == ::cfgetospeed(&actual)
           && ::cfgetispeed(&wanted) == ::cfgetispeed(&actual);
}
