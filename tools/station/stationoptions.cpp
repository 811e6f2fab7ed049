#include "stationoptions.h"

#include "stationport.h"
#include "toolcommandline.h"

#include <QCommandLineParser>

using ToolCommandLine::readNumber;

int StationOptions::parse(const QStringList &arguments, StationOptions *options, QString *error)
{
    QCommandLineParser parser;
    const QString platformNote = StationPort::hasPseudoTerminals() ? QString() : QStringLiteral(
        "\n\nOn Windows there are no pseudo-terminals: give --device COMn (for instance one end\n"
        "of a virtual null-modem pair whose other end the converter opens) or --listen PORT.");
    parser.setApplicationDescription(QStringLiteral(
        "Simulates the central-station monitoring software on the serial side of the Lumari\n"
        "converter. Reads receiver lines ended by 0x14, prints each one decoded (receiver,\n"
        "line, account, qualifier, event, group, zone, time; keepalives marked) and answers\n"
        "it with ACK (0x06), NAK (0x15) or nothing. Without --device it creates a\n"
        "pseudo-terminal and prints its path first (\"pty /dev/pts/N\"); point the converter's\n"
        "port name at that path. With --listen it stands in for monitoring software that\n"
        "listens on TCP instead: it prints \"listen PORT\" first, takes one connection at a\n"
        "time (a new one replaces the last) and goes on listening when it closes; point the\n"
        "converter's port name at tcp://HOST:PORT. Ctrl-C or SIGTERM (on Windows also\n"
        "closing its console) ends it with a summary.\n"
        "\n"
        "Lines are counted from 1, keepalives and repeated lines included; the silent rules\n"
        "win over --nak-first.\n"
        "\n"
        "Exit codes: 0 done; 1 bad command line; 2 the port could not be opened, created or\n"
        "read; 3 --seconds ran out before --lines lines came in; 4 with --strict, a line\n"
        "that is neither an event nor a keepalive came in.") + platformNote);
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption device(QStringLiteral("device"),
        QStringLiteral("Open this serial device (raw, 8N1; a COM port such as COM3 on Windows) instead of "
                       "creating a pseudo-terminal."),
        QStringLiteral("path"));
    const QCommandLineOption link(QStringLiteral("link"),
        QStringLiteral("Also make a symlink with this name to the pseudo-terminal (removed at exit)."),
        QStringLiteral("path"));
    const QCommandLineOption listen(QStringLiteral("listen"),
        QStringLiteral("Listen on this TCP port (0: a free one) instead of using a serial line."),
        QStringLiteral("port"));
    const QCommandLineOption baud(QStringLiteral("baud"),
        QStringLiteral("Line speed of --device (default 19200)."), QStringLiteral("rate"),
        QStringLiteral("19200"));
    const QCommandLineOption receiverDigits(QStringLiteral("receiver-digits"),
        QStringLiteral("Digits of the receiver number; the digits after it are the line number "
                       "(default 2)."),
        QStringLiteral("n"), QStringLiteral("2"));
    const QCommandLineOption answer(QStringLiteral("answer"),
        QStringLiteral("Usual answer to a line: ack, nak or none (none: silent for good; default ack)."),
        QStringLiteral("ack|nak|none"), QStringLiteral("ack"));
    const QCommandLineOption nakFirst(QStringLiteral("nak-first"),
        QStringLiteral("Answer NAK to the first k lines."), QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption silentFirst(QStringLiteral("silent-first"),
        QStringLiteral("Leave the first k lines unanswered."), QStringLiteral("k"), QStringLiteral("0"));
    const QCommandLineOption silentFor(QStringLiteral("silent-for"),
        QStringLiteral("Leave every line unanswered during the first seconds after the start."),
        QStringLiteral("seconds"), QStringLiteral("0"));
    const QCommandLineOption lines(QStringLiteral("lines"),
        QStringLiteral("Exit after this many lines."), QStringLiteral("n"), QStringLiteral("0"));
    const QCommandLineOption seconds(QStringLiteral("seconds"),
        QStringLiteral("Exit after this many seconds."), QStringLiteral("t"), QStringLiteral("0"));
    const QCommandLineOption strict(QStringLiteral("strict"),
        QStringLiteral("Exit with 4 if any line was neither an event nor a keepalive."));
    const QCommandLineOption json(QStringLiteral("json"),
        QStringLiteral("Print one JSON object per line instead of text, ending with a summary object."));
    parser.addOptions({help, device, link, listen, baud, receiverDigits, answer, nakFirst, silentFirst, silentFor,
                       lines, seconds, strict, json});

    const int parsed = ToolCommandLine::parse(parser, help, arguments, error);
    if (parsed != kContinue)
        return parsed;
    auto bad = [error](const QCommandLineOption &option, const QString &what) {
        return ToolCommandLine::badValue(option, what, error);
    };
    constexpr qint64 kManyLines = 1000000000;
    constexpr qint64 kManySeconds = 100000000;
    qint64 value = 0;

    options->devicePath = parser.value(device);
    options->linkPath = parser.value(link);
    if (!options->devicePath.isEmpty() && !options->linkPath.isEmpty())
        return bad(link, QStringLiteral("only with a pseudo-terminal, not with --device"));
    if (parser.isSet(listen)) {
        if (!readNumber(parser.value(listen), 0, 65535, &value))
            return bad(listen, QStringLiteral("expected a port from 0 to 65535"));
        if (!options->devicePath.isEmpty() || !options->linkPath.isEmpty())
            return bad(listen, QStringLiteral("not together with --device or --link"));
        options->listenPort = int(value);
    }
    if (!StationPort::hasPseudoTerminals() && options->devicePath.isEmpty() && options->listenPort < 0)
        return bad(parser.isSet(link) ? link : device,
                   QStringLiteral("no pseudo-terminals on Windows: give --device COMn or --listen PORT"));
    if (!readNumber(parser.value(baud), 1, 4000000, &value))
        return bad(baud, QStringLiteral("expected a line speed"));
    options->baudRate = int(value);
    if (!readNumber(parser.value(receiverDigits), 1, 16, &value))
        return bad(receiverDigits, QStringLiteral("expected 1 to 16"));
    options->receiverDigits = int(value);
    const QString usual = parser.value(answer);
    if (usual == QLatin1String("ack"))
        options->policy.usual = AnswerPolicy::Answer::Ack;
    else if (usual == QLatin1String("nak"))
        options->policy.usual = AnswerPolicy::Answer::Nak;
    else if (usual == QLatin1String("none"))
        options->policy.usual = AnswerPolicy::Answer::None;
    else
        return bad(answer, QStringLiteral("expected ack, nak or none"));
    if (!readNumber(parser.value(nakFirst), 0, kManyLines, &value))
        return bad(nakFirst, QStringLiteral("expected a number from 0"));
    options->policy.nakFirst = int(value);
    if (!readNumber(parser.value(silentFirst), 0, kManyLines, &value))
        return bad(silentFirst, QStringLiteral("expected a number from 0"));
    options->policy.silentFirst = int(value);
    if (!readNumber(parser.value(silentFor), 0, kManySeconds, &value))
        return bad(silentFor, QStringLiteral("expected seconds from 0"));
    options->policy.silentForMs = value * 1000;
    if (!readNumber(parser.value(lines), 0, kManyLines, &value))
        return bad(lines, QStringLiteral("expected a number from 0"));
    options->maxLines = int(value);
    if (!readNumber(parser.value(seconds), 0, kManySeconds, &value))
        return bad(seconds, QStringLiteral("expected seconds from 0"));
    options->maxSeconds = value;
    options->strict = parser.isSet(strict);
    options->json = parser.isSet(json);
    return kContinue;
}
