#ifndef TCPADDRESS_H
#define TCPADDRESS_H

// A port name that is the address of monitoring software listening for
// receivers on TCP: "tcp://HOST:PORT", HOST a name, an IPv4 address or an
// IPv6 address in brackets. Pure text handling, free of Qt.

#include <cstdint>
#include <string>

struct TcpAddress
{
    std::string host; // without the brackets of an IPv6 address
    std::uint16_t port = 0;
};

namespace TcpAddressName {

// The scheme in front of every such name.
extern const char kScheme[];

// Whether the name asks for a TCP connection at all: it starts with the
// scheme (in any case), whether or not the rest is a valid address.
bool hasScheme(const std::string &name);

// Reads the address. False with a short English reason when the name is not
// a valid address.
bool parse(const std::string &name, TcpAddress &address, std::string &reason);

} // namespace TcpAddressName

#endif // TCPADDRESS_H
