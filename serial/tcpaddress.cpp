#include "tcpaddress.h"

#include <cctype>

namespace {

constexpr std::size_t kSchemeLength = 6;
constexpr unsigned long kHighestPort = 65535;
// The longest name DNS allows.
constexpr std::size_t kLongestHost = 253;

bool isHostCharacter(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
}

bool isIpv6Character(char c)
{
    // Hex digits and colons, a dotted IPv4 tail, and a zone ("%eth0").
    return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '%';
}

bool fail(std::string &reason, const char *text)
{
    reason = text;
    return false;
}

} // namespace

namespace TcpAddressName {

const char kScheme[] = "tcp://";

bool hasScheme(const std::string &name)
{
    if (name.size() < kSchemeLength)
        return false;
    for (std::size_t index = 0; index < kSchemeLength; ++index) {
        if (std::tolower(static_cast<unsigned char>(name[index])) != kScheme[index])
            return false;
    }
    return true;
}

bool parse(const std::string &name, TcpAddress &address, std::string &reason)
{
    address = TcpAddress();
    if (!hasScheme(name))
        return fail(reason, "the address does not start with tcp://");
    const std::string rest = name.substr(kSchemeLength);

    std::string host;
    std::size_t portColon = std::string::npos;
    if (!rest.empty() && rest[0] == '[') {
        const std::size_t closing = rest.find(']');
        if (closing == std::string::npos)
            return fail(reason, "the IPv6 address has no closing bracket");
        host = rest.substr(1, closing - 1);
        if (host.empty() || host.find(':') == std::string::npos)
            return fail(reason, "the brackets hold no IPv6 address");
        for (char c : host) {
            if (!isIpv6Character(c))
                return fail(reason, "the IPv6 address holds a character it cannot have");
        }
        if (closing + 1 >= rest.size() || rest[closing + 1] != ':')
            return fail(reason, "the port is missing");
        portColon = closing + 1;
    } else {
        portColon = rest.find(':');
        if (portColon == std::string::npos)
            return fail(reason, "the port is missing");
        host = rest.substr(0, portColon);
        if (host.empty())
            return fail(reason, "the host is missing");
        if (host.size() > kLongestHost)
            return fail(reason, "the host name is too long");
        for (char c : host) {
            if (!isHostCharacter(c))
                return fail(reason, "the host holds a character a host name cannot have");
        }
    }

    const std::string portText = rest.substr(portColon + 1);
    if (portText.empty())
        return fail(reason, "the port is missing");
    unsigned long port = 0;
    for (char c : portText) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return fail(reason, "the port is not a number");
        port = port * 10 + static_cast<unsigned long>(c - '0');
        if (port > kHighestPort)
            return fail(reason, "the port is not between 1 and 65535");
    }
    if (port == 0)
        return fail(reason, "the port is not between 1 and 65535");

    address.host = host;
    address.port = static_cast<std::uint16_t>(port);
    reason.clear();
    return true;
}

} // namespace TcpAddressName
