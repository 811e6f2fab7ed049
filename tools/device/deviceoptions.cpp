#include "deviceoptions.h"

#include "toolcommandline.h"

#include <QCommandLineParser>

#include <cctype>
#include <cstdio>

namespace {

constexpr quint32 kMaxId = 0xFFFFFF;
constexpr int kMaxConnections = 10000;

// Reads exactly `digits` hex digits (or 1..digits when exact is false).
bool readHex(const QString &text, int digits, bool exact, quint64 *value)
{
    if (text.isEmpty() || text.size() > digits || (exact && text.size() != digits))
        return false;
    for (QChar c : text) {
        if (!isxdigit(c.toLatin1()))
            return false;
    }
    bool ok = false;
    *value = text.toULongLong(&ok, 16);
    return ok;
}

bool readCount(const QString &text, int minimum, int maximum, int *value)
{
    qint64 number = 0;
    if (!ToolCommandLine::readNumber(text, minimum, maximum, &number))
        return false;
    *value = static_cast<int>(number);
    return true;
}

} // namespace

int DeviceOptions::parse(const QStringList &arguments, DeviceOptions *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates Velmora alarm communicators talking to the Lumari converter over TCP.\n"
        "Each connection waits for the converter's MAC request and checks it byte for byte,\n"
        "answers with a MAC reply (packet type 0090), then sends its alarm events and\n"
        "periodic tests one at a time and checks that every frame is answered with the\n"
        "exact ACK frame for its device ID. Every frame sent and received is printed.\n"
        "\n"
        "Exit codes: 0 every ACK right; 1 bad command line; 2 connection failed or closed\n"
        "by the converter; 3 MAC request missing or wrong; 4 an ACK missing (time-out);\n"
        "5 an ACK or other received frame wrong. With several connections the first\n"
        "failure decides."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption host(QStringLiteral("host"),
        QStringLiteral("Converter address (default 127.0.0.1)."), QStringLiteral("address"), options->host);
    const QCommandLineOption port(QStringLiteral("port"),
        QStringLiteral("Converter TCP port (default 55555)."), QStringLiteral("port"), QStringLiteral("55555"));
    const QCommandLineOption mac(QStringLiteral("mac"),
        QStringLiteral("Device MAC sent in the MAC reply and used as the encryption key, 16 hex digits "
                       "(default 0102030405060708)."),
        QStringLiteral("hex"), QStringLiteral("0102030405060708"));
    const QCommandLineOption id(QStringLiteral("id"),
        QStringLiteral("Device ID of the first connection, 6 hex digits (default 123456). Connection k "
                       "uses this ID plus k-1, so every connection is a different device."),
        QStringLiteral("hex"), QStringLiteral("123456"));
    const QCommandLineOption connections(QStringLiteral("connections"),
        QStringLiteral("Number of simultaneous connections, each its own device (default 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption count(QStringLiteral("count"),
        QStringLiteral("Alarm events sent on each connection (default 1)."), QStringLiteral("n"),
        QStringLiteral("1"));
    const QCommandLineOption tests(QStringLiteral("tests"),
        QStringLiteral("Periodic tests (packet type 0003) sent on each connection after the alarms; "
                       "the converter reports them with the device ID as account and event 1602 "
                       "(default 0)."),
        QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption account(QStringLiteral("account"),
        QStringLiteral("Subscriber account, 6 hex digits (default 001234)."), QStringLiteral("hex"),
        QStringLiteral("001234"));
    const QCommandLineOption event(QStringLiteral("event"),
        QStringLiteral("Qualifier digit and event code, 4 hex digits: 1130 burglary, 3130 its "
                       "restore, 1110 fire (default 1130)."),
        QStringLiteral("hex"), QStringLiteral("1130"));
    const QCommandLineOption group(QStringLiteral("group"),
        QStringLiteral("Group or partition, 2 hex digits (default 01)."), QStringLiteral("hex"),
        QStringLiteral("01"));
    const QCommandLineOption zone(QStringLiteral("zone"),
        QStringLiteral("Zone or user number as the monitoring software shows it, 1 to 4 hex digits "
                       "(default 005)."),
        QStringLiteral("hex"), QStringLiteral("005"));
    const QCommandLineOption messageType(QStringLiteral("message-type"),
        QStringLiteral("Message type byte of the event, 2 hex digits (default 18)."), QStringLiteral("hex"),
        QStringLiteral("18"));
    const QCommandLineOption packetType(QStringLiteral("packet-type"),
        QStringLiteral("Packet type of the alarm frames, 4 hex digits: 0004 to 0009, 0010, 0016 or "
                       "0017 (default 0004)."),
        QStringLiteral("hex"), QStringLiteral("0004"));
    const QCommandLineOption encrypt(QStringLiteral("encrypt"),
        QStringLiteral("Send alarms and tests encrypted with the MAC (the MAC reply stays plain)."));
    const QCommandLineOption rate(QStringLiteral("rate"),
        QStringLiteral("Events per second on each connection; 0 sends the next one as soon as the "
                       "ACK is in (default 0)."),
        QStringLiteral("per-second"), QStringLiteral("0"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Milliseconds to wait for the connection, the MAC request and each ACK "
                       "(default 5000)."),
        QStringLiteral("ms"), QStringLiteral("5000"));
    const QCommandLineOption linger(QStringLiteral("linger"),
        QStringLiteral("Milliseconds to stay connected after the last ACK (default 0)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    const QCommandLineOption silentAfter(QStringLiteral("silent-after"),
        QStringLiteral("Go silent after this many events are acknowledged (0: right after the MAC reply), "
                       "keeping the connection open for --linger ms, or until stopped when that is 0; "
                       "for trying the converter's supervision of silent devices."),
        QStringLiteral("events"));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("Print one JSON object per line instead of text (frames as hex without spaces), "
                       "ending with a summary object."));
    parser.addOptions({help, host, port, mac, id, connections, count, tests, account, event, group, zone,
                       messageType, packetType, encrypt, rate, timeout, linger, silentAfter, json});

    const int parsed = ToolCommandLine::parse(parser, help, arguments, error);
    if (parsed != kContinue)
        return parsed;

    auto bad = [error](const QCommandLineOption &option, const QString &what) {
        return ToolCommandLine::badValue(option, what, error);
    };
    quint64 value = 0;
    int number = 0;

    options->host = parser.value(host);
    if (!readCount(parser.value(port), 1, 65535, &number))
        return bad(port, QStringLiteral("expected a TCP port from 1 to 65535"));
    options->port = quint16(number);
    const QString macText = parser.value(mac);
    if (!readHex(macText, 16, true, &value))
        return bad(mac, QStringLiteral("expected 16 hex digits"));
    for (size_t i = 0; i < options->mac.size(); ++i)
        options->mac[i] = quint8(value >> (8 * (options->mac.size() - 1 - i)));
    if (!readHex(parser.value(id), 6, true, &value))
        return bad(id, QStringLiteral("expected 6 hex digits"));
    options->firstId = quint32(value);
    if (!readCount(parser.value(connections), 1, kMaxConnections, &options->connections))
        return bad(connections, QStringLiteral("expected 1 to %1").arg(kMaxConnections));
    if (quint64(options->firstId) + quint64(options->connections) - 1 > kMaxId)
        return bad(id, QStringLiteral("the IDs of all connections must stay within FFFFFF"));
    if (!readCount(parser.value(count), 0, 1000000, &options->alarms))
        return bad(count, QStringLiteral("expected a number from 0"));
    if (!readCount(parser.value(tests), 0, 1000000, &options->tests))
        return bad(tests, QStringLiteral("expected a number from 0"));
    if (!readHex(parser.value(account), 6, true, &value))
        return bad(account, QStringLiteral("expected 6 hex digits"));
    options->event.account = quint32(value);
    if (!readHex(parser.value(event), 4, true, &value))
        return bad(event, QStringLiteral("expected 4 hex digits"));
    options->event.event = quint16(value);
    if (!readHex(parser.value(group), 2, true, &value))
        return bad(group, QStringLiteral("expected 2 hex digits"));
    options->event.group = quint8(value);
    if (!readHex(parser.value(zone), 4, false, &value))
        return bad(zone, QStringLiteral("expected 1 to 4 hex digits"));
    options->event.zone = quint16(value);
    if (!readHex(parser.value(messageType), 2, true, &value))
        return bad(messageType, QStringLiteral("expected 2 hex digits"));
    options->event.messageType = quint8(value);
    if (!readHex(parser.value(packetType), 4, true, &value))
        return bad(packetType, QStringLiteral("expected 4 hex digits"));
    options->packetType = quint16(value);
    options->encrypt = parser.isSet(encrypt);
    bool ok = false;
    options->rate = parser.value(rate).toDouble(&ok);
    if (!ok || options->rate < 0 || options->rate > 100000)
        return bad(rate, QStringLiteral("expected a number of events per second from 0"));
    if (!readCount(parser.value(timeout), 1, 3600000, &options->timeoutMs))
        return bad(timeout, QStringLiteral("expected milliseconds from 1"));
    if (!readCount(parser.value(linger), 0, 3600000, &options->lingerMs))
        return bad(linger, QStringLiteral("expected milliseconds from 0"));
    if (parser.isSet(silentAfter) && !readCount(parser.value(silentAfter), 0, 1000000000, &options->silentAfter))
        return bad(silentAfter, QStringLiteral("expected a number of events from 0"));
    options->json = parser.isSet(json);
    return kContinue;
}
