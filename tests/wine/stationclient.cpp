#include "stationclient.h"

#include <cstdio>
#include <cstdlib>

bool StationClient::request(const std::string &command, std::string *answer)
{
    std::printf("@station %s\n", command.c_str());
    std::fflush(stdout);
    char line[1 << 16];
    std::string reply;
    // A reply longer than the buffer arrives in pieces.
    while (std::fgets(line, sizeof line, stdin)) {
        reply += line;
        if (!reply.empty() && reply.back() == '\n')
            break;
    }
    while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r'))
        reply.pop_back();
    const bool ok = reply == "ok" || reply.compare(0, 3, "ok ") == 0;
    if (answer)
        *answer = ok ? (reply.size() > 3 ? reply.substr(3) : std::string()) : reply;
    if (!ok)
        std::printf("  station refused \"%s\": %s\n", command.c_str(), reply.c_str());
    return ok;
}

bool StationClient::renew(bool withFlowControl)
{
    return request(withFlowControl ? "new flow" : "new");
}

bool StationClient::send(const std::string &bytes, int delayMs)
{
    return request("send " + toHex(bytes) + " " + std::to_string(delayMs));
}

std::string StationClient::take(std::size_t count, int timeoutMs)
{
    std::string hex;
    if (!request("take " + std::to_string(count) + " " + std::to_string(timeoutMs), &hex))
        return std::string();
    return fromHex(hex);
}

long StationClient::lineSetting(const std::string &field)
{
    std::string settings;
    if (!request("line", &settings))
        return -1;
    const std::string key = " " + field + "=";
    const std::size_t at = (" " + settings).find(key);
    if (at == std::string::npos)
        return -1;
    return std::strtol(settings.c_str() + at + key.size() - 1, nullptr, 10);
}

std::string StationClient::toHex(const std::string &bytes)
{
    const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

std::string StationClient::fromHex(const std::string &hex)
{
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return bytes;
}
