// The Windows TCP line under Wine, against a listener made here with
// Winsock on the loopback address: the connection, the answer read, the
// peer's close and reset, a write nobody takes, and the reasons of failed
// opens.

#include "tcpline.h"

#include "winetest.h"

namespace winetest {
inline std::string show(SerialPortError error)
{
    return "SerialPortError(" + std::to_string(static_cast<int>(error)) + ")";
}
} // namespace winetest

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A loopback listener on a free port; accept() takes the line's connection.
class Listener
{
public:
    Listener()
    {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        if (fd == INVALID_SOCKET || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            || ::listen(fd, 1) != 0 || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        port = ntohs(address.sin_port);
    }
    ~Listener()
    {
        closePeer();
        if (fd != INVALID_SOCKET)
            ::closesocket(fd);
    }
    std::string name() const { return "tcp://127.0.0.1:" + std::to_string(port); }
    bool accept()
    {
        peer = ::accept(fd, nullptr, nullptr);
        return peer != INVALID_SOCKET;
    }
    bool send(const std::string &bytes)
    {
        return ::send(peer, bytes.data(), static_cast<int>(bytes.size()), 0) == static_cast<int>(bytes.size());
    }
    std::string receive(std::size_t count)
    {
        std::string bytes;
        char buffer[256];
        while (bytes.size() < count) {
            const int got = ::recv(peer, buffer, static_cast<int>(sizeof buffer), 0);
            if (got <= 0)
                break;
            bytes.append(buffer, static_cast<std::size_t>(got));
        }
        return bytes;
    }
    void closePeer(bool reset = false)
    {
        if (peer == INVALID_SOCKET)
            return;
        if (reset) {
            const linger immediately{1, 0};
            ::setsockopt(peer, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&immediately),
                         sizeof immediately);
        }
        ::closesocket(peer);
        peer = INVALID_SOCKET;
    }
    unsigned short port = 0;

private:
    SOCKET fd = INVALID_SOCKET;
    SOCKET peer = INVALID_SOCKET;
};

bool connectLine(TcpLine &line, Listener &listener)
{
    return listener.port != 0 && line.open(listener.name()) && listener.accept();
}

} // namespace

WINE_TEST(openFailuresGiveTheReason)
{
    struct Row
    {
        const char *label;
        std::string name;
        const char *reasonStart;
    };
    unsigned short unused = 0;
    {
        Listener probe;
        unused = probe.port;
    }
    const std::vector<Row> rows{
        {"malformed", "tcp://127.0.0.1", "not a valid address: the port is missing"},
        {"not resolvable", "tcp://no-such-host.invalid:1025", "cannot resolve no-such-host.invalid: "},
        {"refused", "tcp://127.0.0.1:" + std::to_string(unused), ""},
    };
    for (const Row &row : rows) {
        winetest::row(row.label);
        TcpLine line;
        const auto began = Clock::now();
        CHECK(!line.open(row.name));
        CHECK(msSince(began) < 10000);
        CHECK(!line.isOpen());
        const std::string text = line.lastErrorText();
        CHECK_MSG(text.rfind(row.reasonStart, 0) == 0, text);
        // The system's own words follow a prefix that ends in a space.
        const std::string start = row.reasonStart;
        CHECK_MSG(text.size() > start.size() || (!start.empty() && start.back() != ' '), text);
    }
}

WINE_TEST(lineAndAnswerOverTheConnection)
{
    Listener listener;
    TcpLine line;
    CHECK(connectLine(line, listener));
    CHECK(line.readLineSettings());
    CHECK(line.applyLineSettings(SerialLineSettings()));
    CHECK(line.setReadTimeouts(SerialReadTimeouts{100, 300, 50}));

    const std::string text = "5011 181234E13001005\x14";
    std::size_t written = 0;
    CHECK(line.write(text.data(), text.size(), written));
    CHECK_EQ(written, text.size());
    CHECK_EQ(listener.receive(text.size()), text);

    char answer[2] = {};
    std::size_t received = 9;
    auto start = Clock::now();
    CHECK(line.readFirstWithin(answer, 2, received, 200));
    CHECK_EQ(received, std::size_t(0));
    CHECK(msSince(start) >= 150);

    CHECK(listener.send("\x06\x06"));
    start = Clock::now();
    CHECK(line.readFirstWithin(answer, 2, received, 5000));
    CHECK(msSince(start) < 4000);
    CHECK(received >= 1);
    CHECK_EQ(answer[0], '\x06');

    // A late answer is thrown away before the next line.
    CHECK(listener.send("\x06\x06\x06"));
    Sleep(100);
    CHECK(line.discardInput());
    CHECK(line.readFirstWithin(answer, 1, received, 100));
    CHECK_EQ(received, std::size_t(0));
}

WINE_TEST(peerCloseMeansGone)
{
    for (bool reset : {false, true}) {
        winetest::row(reset ? "reset" : "closed");
        Listener listener;
        TcpLine line;
        CHECK(connectLine(line, listener));
        listener.closePeer(reset);
        char answer[2] = {};
        std::size_t received = 0;
        CHECK(!line.readFirstWithin(answer, 2, received, 5000));
        CHECK(line.lastErrorMeansGone());
        CHECK_EQ(line.lastError(), SerialPortError::Disconnected);
        std::size_t written = 0;
        CHECK(!line.write("x", 1, written));
        CHECK(line.lastErrorMeansGone());
        line.close();
        CHECK(!line.isOpen());
    }
}

WINE_TEST(writeThePeerDoesNotTakeFails)
{
    Listener listener;
    TcpLine line;
    CHECK(connectLine(line, listener));
    const std::vector<char> bytes(64 * 1024 * 1024, '5');
    std::size_t written = 0;
    const auto start = Clock::now();
    CHECK(!line.write(bytes.data(), bytes.size(), written));
    CHECK_EQ(line.lastError(), SerialPortError::TimedOut);
    CHECK(!line.lastErrorMeansGone());
    CHECK(msSince(start) >= 1900);
}

int main(int argc, char **argv)
{
    return winetest::runAll(argc, argv);
}
