#include "receiverline.h"

#include "serialport.h"
#include "tcpaddress.h"
#include "tcpline.h"

std::unique_ptr<ReceiverLine> ReceiverLine::forName(const std::string &name)
{
    if (TcpAddressName::hasScheme(name))
        return std::make_unique<TcpLine>();
    return std::make_unique<SerialPort>();
}
