#ifndef STATIONCLIENT_H
#define STATIONCLIENT_H

// The test program's side of ptystation.py: requests to the pseudo-terminal
// station on the far end of the COM port, written to standard output and
// answered on standard input.

#include <string>

class StationClient
{
public:
    // Sends one request; true when the station answered "ok". answer gets
    // the rest of the reply.
    static bool request(const std::string &command, std::string *answer = nullptr);

    // A fresh pseudo-terminal behind the port, with flow control left on it
    // when withFlowControl is set.
    static bool renew(bool withFlowControl = false);
    // Writes bytes to the program now (back once they are in the line) or
    // after delayMs (back at once).
    static bool send(const std::string &bytes, int delayMs = 0);
    // What the program wrote, once count bytes came or timeoutMs passed.
    static std::string take(std::size_t count, int timeoutMs);
    // One field ("speed", "cstopb", ...) of the line settings the
    // pseudo-terminal holds; -1 when it cannot be read.
    static long lineSetting(const std::string &field);

    static std::string toHex(const std::string &bytes);
    static std::string fromHex(const std::string &hex);
};

#endif // STATIONCLIENT_H
