#include "station.h"

#include "stationport.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <limits>

namespace {

constexpr int kReadChunk = 512;
// The converter takes its answer the moment it arrives; closing the port at
// once would still take the last answer with it before it is read.
constexpr int kAnswerGraceMs = 300;
// How often a line without anything to watch (a COM port on Windows) is
// read: well within the time the converter waits for its answer.
constexpr int kPollMs = 10;

QString answerName(AnswerPolicy::Answer answer)
{
    switch (answer) {
    case AnswerPolicy::Answer::Ack:
        return QStringLiteral("ACK");
    case AnswerPolicy::Answer::Nak:
        return QStringLiteral("NAK");
    case AnswerPolicy::Answer::None:
        break;
    }
    return QStringLiteral("none");
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

} // namespace

Station::Station(const StationOptions &options, StationPort &port, QObject *parent)
    : QObject(parent),
      options(options),
      port(port),
      timeLimit(new QTimer(this))
{
    timeLimit->setSingleShot(true);
    connect(timeLimit, &QTimer::timeout, this, &Station::onTimeLimit);
}

void Station::start()
{
    clock.start();
    if (port.isListening()) {
        print(QStringLiteral("listen %1").arg(port.listeningPort()),
              {{QStringLiteral("type"), QStringLiteral("listen")}, {QStringLiteral("port"), port.listeningPort()}});
        listenNotifier = new QSocketNotifier(port.listeningSocket(), QSocketNotifier::Read, this);
        connect(listenNotifier, &QSocketNotifier::activated, this, &Station::acceptConnection);
        if (options.maxSeconds > 0)
            timeLimit->start(int(qMin<qint64>(options.maxSeconds * 1000, std::numeric_limits<int>::max())));
        return;
    }
    print(QStringLiteral("%1 %2").arg(options.devicePath.isEmpty() ? QStringLiteral("pty") : QStringLiteral("device"),
                                      port.path()),
          {{QStringLiteral("type"), options.devicePath.isEmpty() ? QStringLiteral("pty") : QStringLiteral("device")},
           {QStringLiteral("path"), port.path()}});
    if (!options.linkPath.isEmpty())
        print(QStringLiteral("link %1").arg(options.linkPath),
              {{QStringLiteral("type"), QStringLiteral("link")}, {QStringLiteral("path"), options.linkPath}});
    if (port.readNotifierHandle() >= 0) {
        notifier = new QSocketNotifier(port.readNotifierHandle(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &Station::readPort);
    } else {
        pollTimer = new QTimer(this);
        connect(pollTimer, &QTimer::timeout, this, &Station::readPort);
        pollTimer->start(kPollMs);
    }
    if (options.maxSeconds > 0)
        timeLimit->start(int(qMin<qint64>(options.maxSeconds * 1000, std::numeric_limits<int>::max())));
}

void Station::acceptConnection()
{
    QString peer;
    if (!port.acceptConnection(&peer))
        return; // gone before it was taken
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    reader = LineReader();
    print(QStringLiteral("connected %1").arg(peer),
          {{QStringLiteral("type"), QStringLiteral("connected")}, {QStringLiteral("peer"), peer}});
    notifier = new QSocketNotifier(port.readNotifierHandle(), QSocketNotifier::Read, this);
    notifier->setEnabled(!stopped);
    connect(notifier, &QSocketNotifier::activated, this, &Station::readPort);
}

void Station::dropConnection(const QString &why)
{
    // Called from the notifier's own signal: it goes once that returns.
    if (notifier) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    notifier = nullptr;
    port.closeConnection();
    print(QStringLiteral("disconnected: %1").arg(why),
          {{QStringLiteral("type"), QStringLiteral("disconnected")}, {QStringLiteral("reason"), why}});
}

void Station::readPort()
{
    char buffer[kReadChunk];
    for (;;) {
        const int count = port.read(buffer, kReadChunk);
        if (count == StationPort::kClosed || (count < 0 && port.isListening())) {
            dropConnection(count == StationPort::kClosed ? QStringLiteral("closed by the converter")
                                                         : port.errorString());
            return;
        }
        if (count < 0) {
            print(QStringLiteral("error: %1").arg(port.errorString()),
                  {{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("message"), port.errorString()}});
            stop(PortFailed);
            return;
        }
        if (count == 0)
            return;
        reader.append(QByteArray(buffer, count));
        QByteArray text;
        bool terminated = true;
        while (!stopped && reader.take(&text, &terminated))
            handleLine(text, terminated);
        if (stopped)
            return;
    }
}

void Station::handleLine(const QByteArray &text, bool terminated)
{
    ++lines;
    const qint64 elapsed = clock.elapsed();
    const SurgardLine decoded = terminated ? SurgardLine::decode(text, options.receiverDigits) : SurgardLine();
    const AnswerPolicy::Answer answer = options.policy.answerFor(lines, elapsed);
    // Answer first: the converter reads its answer shortly after writing.
    bool answered = true;
    if (answer == AnswerPolicy::Answer::Ack)
        answered = port.writeByte(AnswerPolicy::kAckByte);
    else if (answer == AnswerPolicy::Answer::Nak)
        answered = port.writeByte(AnswerPolicy::kNakByte);

    switch (decoded.kind) {
    case SurgardLine::Kind::Event: ++events; break;
    case SurgardLine::Kind::Keepalive: ++keepalives; break;
    case SurgardLine::Kind::Unrecognised: ++unrecognised; break;
    }
    switch (answer) {
    case AnswerPolicy::Answer::Ack: ++acks; break;
    case AnswerPolicy::Answer::Nak: ++naks; break;
    case AnswerPolicy::Answer::None: ++unanswered; break;
    }

    const QByteArray raw = terminated ? text + LineReader::kTerminator : text;
    QJsonObject fields{{QStringLiteral("type"), QStringLiteral("line")},
                       {QStringLiteral("number"), lines},
                       {QStringLiteral("elapsedMs"), elapsed},
                       {QStringLiteral("kind"), SurgardLine::kindName(decoded.kind)},
                       {QStringLiteral("raw"), SurgardLine::printable(raw)},
                       {QStringLiteral("rawHex"), QString::fromLatin1(raw.toHex().toUpper())},
                       {QStringLiteral("terminated"), terminated},
                       {QStringLiteral("answer"), answerName(answer).toLower()}};
    QString description;
    if (decoded.kind == SurgardLine::Kind::Event) {
        fields.insert(QStringLiteral("receiver"), decoded.receiver);
        fields.insert(QStringLiteral("line"), decoded.line);
        fields.insert(QStringLiteral("messageType"), decoded.messageType);
        fields.insert(QStringLiteral("account"), decoded.account);
        fields.insert(QStringLiteral("qualifier"), decoded.qualifier);
        fields.insert(QStringLiteral("event"), decoded.event);
        fields.insert(QStringLiteral("group"), decoded.group);
        fields.insert(QStringLiteral("zone"), decoded.zone);
        fields.insert(QStringLiteral("time"), decoded.time);
        description = QStringLiteral("EVENT     receiver %1 line %2 account %3 qualifier %4 event %5 group %6 "
                                     "zone %7 time %8")
                          .arg(decoded.receiver, decoded.line, decoded.account, decoded.qualifier, decoded.event,
                               decoded.group, decoded.zone, orDash(decoded.time));
    } else if (decoded.kind == SurgardLine::Kind::Keepalive) {
        fields.insert(QStringLiteral("receiver"), decoded.receiver);
        fields.insert(QStringLiteral("line"), decoded.line);
        description = QStringLiteral("KEEPALIVE receiver %1 line %2").arg(decoded.receiver, decoded.line);
    } else {
        description = terminated ? QStringLiteral("UNRECOGNISED") : QStringLiteral("UNRECOGNISED (no terminator)");
    }
    print(QStringLiteral("#%1 %2 %3 -> %4 | %5")
              .arg(lines)
              .arg(QDateTime::currentDateTime().toString(QStringLiteral("hh:mm:ss.zzz")), description,
                   answerName(answer), SurgardLine::printable(raw)),
          fields);

    if (!answered && port.isListening()) {
        dropConnection(port.errorString());
        return;
    }
    if (!answered) {
        print(QStringLiteral("error: %1").arg(port.errorString()),
              {{QStringLiteral("type"), QStringLiteral("error")}, {QStringLiteral("message"), port.errorString()}});
        stop(PortFailed);
        return;
    }
    if (options.maxLines > 0 && lines >= options.maxLines)
        stop(options.strict && unrecognised > 0 ? UnrecognisedLine : Done);
}

void Station::onTimeLimit()
{
    const bool fewerLines = options.maxLines > 0 && lines < options.maxLines;
    stop(fewerLines ? TimeRanOut : (options.strict && unrecognised > 0 ? UnrecognisedLine : Done));
}

void Station::stop(ExitCode code)
{
    if (stopped)
        return;
    stopped = true;
    if (code == Done && options.strict && unrecognised > 0)
        code = UnrecognisedLine;
    if (notifier)
        notifier->setEnabled(false);
    if (listenNotifier)
        listenNotifier->setEnabled(false);
    if (pollTimer)
        pollTimer->stop();
    timeLimit->stop();
    print(QStringLiteral("summary: %1 line(s): %2 event(s), %3 keepalive(s), %4 unrecognised; answered %5 ACK, "
                         "%6 NAK, %7 unanswered; exit %8")
              .arg(lines)
              .arg(events)
              .arg(keepalives)
              .arg(unrecognised)
              .arg(acks)
              .arg(naks)
              .arg(unanswered)
              .arg(int(code)),
          {{QStringLiteral("type"), QStringLiteral("summary")},
           {QStringLiteral("lines"), lines},
           {QStringLiteral("events"), events},
           {QStringLiteral("keepalives"), keepalives},
           {QStringLiteral("unrecognised"), unrecognised},
           {QStringLiteral("acks"), acks},
           {QStringLiteral("naks"), naks},
           {QStringLiteral("unanswered"), unanswered},
           {QStringLiteral("exit"), int(code)}});
    QTimer::singleShot(kAnswerGraceMs, this, [this, code] { emit finished(int(code)); });
}

void Station::print(const QString &text, const QJsonObject &fields) const
{
    const QByteArray line = options.json ? QJsonDocument(fields).toJson(QJsonDocument::Compact) : text.toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
