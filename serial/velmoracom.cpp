#include "velmoracom.h"

#include "serialport.h"
#include "velmoraconf.h"
#include "velmoraeventstore.h"
#include "velmoralog.h"
#include "velmorareceiverformat.h"

#include <QThread>
#include <QTimer>

namespace {

const char kSource[] = "com";
// The answer is read this long after each line is written.
constexpr unsigned long kAnswerPauseMs = 100;
constexpr unsigned kReadIntervalMs = 100;
constexpr unsigned kReadPerByteMs = 300;
constexpr unsigned kReadConstantMs = 50;
constexpr int kTwoStopBitsChoice = 1;

} // namespace

// One log line in two copies, the window's and the day log's: the same
// text, translated in this class's context, except for the parts that the
// day log keeps in English.
class VelmoraCom::Report
{
public:
    enum Prefix { Short, Spaced };

    explicit Report(Prefix prefix)
    {
        const QString start = QString::fromLatin1(prefix == Short ? "[%1]" : "[%1] ")
                                  .arg(QLatin1String(kSource));
        screen = start;
        file = start;
    }
    Report &plain(const QString &text)
    {
        screen += text;
        file += text;
        return *this;
    }
    Report &translated(const char *source)
    {
        const QString text = VelmoraCom::tr(source);
        screen += text;
        file += text;
        return *this;
    }
    Report &translatedOnScreenOnly(const char *source)
    {
        screen += VelmoraCom::tr(source);
        file += QString::fromLatin1(source);
        return *this;
    }
    Report &translatedCount(const char *source, int count)
    {
        const QString text = VelmoraCom::tr(source).arg(count);
        screen += text;
        file += text;
        return *this;
    }

    QString screen;
    QString file;
};

VelmoraCom::VelmoraCom(QObject *parent)
    : QObject(parent),
      portHandle(std::make_unique<SerialPort>()),
      absenceRetryTimer(new QTimer(this))
{
    absenceRetryTimer->setSingleShot(true);
    absenceRetryTimer->setInterval(kDefaultAbsenceRetryMs);
    connect(absenceRetryTimer, &QTimer::timeout, this, &VelmoraCom::retryHeldEvent);
}

VelmoraCom::~VelmoraCom() = default;

void VelmoraCom::setEventStore(VelmoraEventStore *store)
{
    eventStore = store;
    if (!eventStore)
        return;
    const QVector<SVelmoraMsg> pending = eventStore->pendingEvents();
    for (const SVelmoraMsg &msg : pending)
        holdEvent(msg);
}

void VelmoraCom::setAbsenceRetryInterval(int milliseconds)
{
    absenceRetryTimer->setInterval(milliseconds);
}

void VelmoraCom::setSettings(const SVelmoraComSettings &settings)
{
    portName = settings.portName;
    baudRate = settings.baudRate;
    dataBits = settings.dataBits;
    parity = settings.parity;
    stopBits = settings.stopBits;
    server = settings.server;
    line = settings.line;
    keepAlive = settings.keepAlive;
    keepaliveTimerSeconds = settings.keepaliveTimerSeconds;
}

void VelmoraCom::holdEvent(const SVelmoraMsg &msg)
{
    if (enqueue(msg) && portOpen() && !softwareAbsent)
        scheduleSend();
}

void VelmoraCom::msgSlot(SVelmoraMsg msg)
{
    if (!enqueue(msg))
        return;
    if (!portOpen()) {
        report(Report(Report::Short).translated(QT_TR_NOOP(" Couldn't write to ")).plain(portName));
        return;
    }
    if (softwareAbsent)
        return;
    // With nothing ahead of it the event goes out at once, before any stop
    // request that came after it; a backlog drains one event per pass.
    if (queue.size() == 1)
        sendEvent();
    else
        scheduleSend();
}

void VelmoraCom::timeoutSlot() {}

void VelmoraCom::stopSlot()
{
    closePort();
}

void VelmoraCom::startSlot()
{
    openPort();
}

void VelmoraCom::keepaliveSlot()
{
    sendKeepalive();
}

bool VelmoraCom::portOpen() const
{
    return portHandle->isOpen();
}

void VelmoraCom::openPort()
{
    if (!portHandle->open(portName.toUtf8().toStdString())) {
        report(Report(Report::Short)
                   .translatedOnScreenOnly(QT_TR_NOOP(" Couldn't open "))
                   .plain(portName + QLatin1Char('.')));
        emit stopSignal();
        return;
    }
    report(Report(Report::Spaced).plain(portName).translated(QT_TR_NOOP(" opened successfully!")));

    if (!portHandle->readLineSettings()) {
        report(Report(Report::Short)
                   .translated(QT_TR_NOOP(" Couldn't receive settings for "))
                   .plain(portName + QLatin1Char('!')));
        emit stopSignal();
        return;
    }
    report(Report(Report::Short)
               .translated(QT_TR_NOOP(" Setting for "))
               .plain(portName)
               .translated(QT_TR_NOOP(" received successfully!")));

    SerialLineSettings lineSettings;
    lineSettings.baudRate = baudRate;
    lineSettings.dataBits = dataBits;
    lineSettings.parity = parity;
    lineSettings.twoStopBits = stopBits == kTwoStopBitsChoice;
    if (!portHandle->applyLineSettings(lineSettings)) {
        report(Report(Report::Short)
                   .translated(QT_TR_NOOP(" Couldn't set user's settings for "))
                   .plain(portName + QLatin1Char('!')));
        emit stopSignal();
        return;
    }
    report(Report(Report::Short)
               .translated(QT_TR_NOOP(" User's settings for "))
               .plain(portName)
               .translated(QT_TR_NOOP(" was set successfully!")));

    SerialReadTimeouts timeouts;
    timeouts.intervalMs = kReadIntervalMs;
    timeouts.totalPerByteMs = kReadPerByteMs;
    timeouts.totalConstantMs = kReadConstantMs;
    if (!portHandle->setReadTimeouts(timeouts)) {
        report(Report(Report::Short)
                   .translated(QT_TR_NOOP(" Couldn't set timeout's settings for "))
                   .plain(portName + QLatin1Char('!')));
        emit stopSignal();
        return;
    }
    report(Report(Report::Short)
               .translated(QT_TR_NOOP(" Timeout's settings for "))
               .plain(portName)
               .translated(QT_TR_NOOP(" was set successfully!")));
    report(Report(Report::Spaced).plain(portName).translated(QT_TR_NOOP(" is ready to work!")));

    if (keepAlive > 0)
        emit timerStartSignal();

    // Events held while the port was closed go out now; whether the software
    // is there is learnt afresh from the first of them. An absence already
    // reported stays reported until the software answers again.
    softwareAbsent = false;
    absenceRetryTimer->stop();
    if (!queue.empty())
        scheduleSend();
}

void VelmoraCom::closePort()
{
    emit timerStopSignal();
    absenceRetryTimer->stop();
    if (portOpen()) {
        portHandle->close();
        report(Report(Report::Spaced).plain(portName).translated(QT_TR_NOOP(" was closed successfully!")));
    } else {
        report(Report(Report::Spaced).plain(portName + QLatin1Char('!')));
    }
}

bool VelmoraCom::writePort(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::size_t written = 0;
    return portHandle->write(bytes.constData(), static_cast<std::size_t>(bytes.size()), written)
           && written == static_cast<std::size_t>(bytes.size());
}

bool VelmoraCom::readAnswer(int size, QByteArray &answer)
{
    answer = QByteArray(size, '\0');
    std::size_t received = 0;
    const bool succeeded =
        portHandle->read(answer.data(), static_cast<std::size_t>(size), received);
    answer.truncate(static_cast<int>(received));
    return succeeded;
}

bool VelmoraCom::enqueue(const SVelmoraMsg &msg)
{
    // An event the store handed over at start-up may also still be on its
    // way from the network side; one copy in the queue is enough.
    if (msg.journalId != 0) {
        if (queuedJournalIds.contains(msg.journalId))
            return false;
        queuedJournalIds.insert(msg.journalId);
    }
    queue.push_back(QueuedEvent{msg, 0});
    updateHeldCount();
    return true;
}

void VelmoraCom::scheduleSend()
{
    // One event per pass through the event loop, so that stop, start and
    // keepalive requests are not kept waiting behind a long queue.
    if (sendScheduled)
        return;
    sendScheduled = true;
    QMetaObject::invokeMethod(this, &VelmoraCom::sendNextEvent, Qt::QueuedConnection);
}

void VelmoraCom::sendNextEvent()
{
    sendScheduled = false;
    if (queue.empty() || softwareAbsent || !portOpen())
        return;
    sendEvent();
}

void VelmoraCom::retryHeldEvent()
{
    if (queue.empty() || !softwareAbsent || !portOpen())
        return;
    sendEvent();
}

void VelmoraCom::sendEvent()
{
    QueuedEvent &event = queue.front();
    const bool appendTime = VelmoraCommon_GetConf()->useTime != 0;
    const QString lineText = VelmoraReceiverFormat::eventLine(server, line, event.msg, appendTime);

    switch (exchangeEvent(event, lineText)) {
    case ExchangeResult::Acknowledged:
        report(Report(Report::Spaced).plain(QStringLiteral("COMMSG: ") + lineText));
        emit timerStopSignal();
        emit timerStartSignal();
        finishHeadEvent(true);
        leaveAbsence();
        break;
    case ExchangeResult::Refused:
        report(Report(Report::Short)
                   .translated(QT_TR_NOOP(" Refused by the monitoring software, set aside: "))
                   .plain(lineText));
        finishHeadEvent(false);
        leaveAbsence();
        break;
    case ExchangeResult::NotAcknowledged:
        report(Report(Report::Short)
                   .translated(QT_TR_NOOP("Writing "))
                   .plain(portName)
                   .translated(QT_TR_NOOP(" to "))
                   .translated(QT_TR_NOOP(" was failed! Packet:\n"))
                   .plain(lineText));
        enterAbsence();
        return;
    }
    if (!queue.empty())
        scheduleSend();
}

VelmoraCom::ExchangeResult VelmoraCom::exchangeEvent(QueuedEvent &event, const QString &lineText)
{
    using Outcome = VelmoraReceiverFormat::AttemptOutcome;
    for (int attempt = 1;; ++attempt) {
        // Nothing that arrived before the line can answer it. A late 0x06
        // left over from an earlier line would otherwise mark this event
        // delivered although the software never saw it.
        portHandle->discardInput();
        // A failed write shows up as a missing answer.
        writePort(lineText);
        QThread::msleep(kAnswerPauseMs);
        QByteArray answer;
        const bool readSucceeded = readAnswer(VelmoraReceiverFormat::kEventAnswerSize, answer);

        if (VelmoraReceiverFormat::isRefusal(answer))
            ++event.refusalsInRow;
        else
            event.refusalsInRow = 0;

        const Outcome outcome =
            VelmoraReceiverFormat::judgeEventAttempt(attempt, readSucceeded, answer);
        if (outcome == Outcome::Acknowledged)
            return ExchangeResult::Acknowledged;
        if (event.refusalsInRow >= kRefusalNakCount)
            return ExchangeResult::Refused;
        if (outcome == Outcome::GiveUp)
            return ExchangeResult::NotAcknowledged;
        // The day log marks each further attempt with an empty entry.
        VelmoraCommon_LogError(QString());
    }
}

void VelmoraCom::sendKeepalive()
{
    const QString lineText = VelmoraReceiverFormat::keepaliveLine(server, line);
    bool acknowledged = false;
    portHandle->discardInput();
    if (writePort(lineText)) {
        QThread::msleep(kAnswerPauseMs);
        QByteArray answer;
        // Only the bytes count here, not whether the read reported success.
        readAnswer(VelmoraReceiverFormat::kKeepaliveAnswerSize, answer);
        acknowledged = VelmoraReceiverFormat::isAcknowledged(answer);
    }

    if (acknowledged) {
        emit timerStartSignal();
        report(Report(Report::Short).translated(QT_TR_NOOP(" COMMSG: Keepalive ")));
        if (softwareAbsent || absenceReported) {
            leaveAbsence();
            scheduleSend();
        }
        return;
    }
    report(Report(Report::Short).translated(QT_TR_NOOP(" ERROR COMMSG: Keepalive ")));
    // A request that was already on its way when the port closed must not
    // start the timer again: keepalives stop with the port.
    if (portOpen())
        emit timerStartSignal();
    // The software is not answering at all, so the refusals of the first
    // event so far say nothing about that event.
    if (!queue.empty())
        queue.front().refusalsInRow = 0;
}

void VelmoraCom::finishHeadEvent(bool delivered)
{
    const qint64 journalId = queue.front().msg.journalId;
    if (journalId != 0) {
        queuedJournalIds.remove(journalId);
        if (eventStore) {
            if (delivered)
                eventStore->markDelivered(journalId);
            else
                eventStore->markRefused(journalId);
        }
    }
    queue.pop_front();
    updateHeldCount();
}

void VelmoraCom::enterAbsence()
{
    softwareAbsent = true;
    if (!absenceReported) {
        absenceReported = true;
        report(Report(Report::Short)
                   .translatedCount(QT_TR_NOOP(" The monitoring software does not acknowledge; "
                                               "events held: %1"),
                                    static_cast<int>(queue.size())));
    }
    // Without keepalives nothing else would tell when the software is back.
    if (keepaliveTimerSeconds <= 0)
        absenceRetryTimer->start();
}

void VelmoraCom::leaveAbsence()
{
    softwareAbsent = false;
    absenceRetryTimer->stop();
    if (!absenceReported)
        return;
    absenceReported = false;
    report(Report(Report::Short)
               .translatedCount(QT_TR_NOOP(" The monitoring software acknowledges again; "
                                           "held events to send: %1"),
                                static_cast<int>(queue.size())));
}

void VelmoraCom::updateHeldCount()
{
    heldEvents.store(static_cast<int>(queue.size()));
}

void VelmoraCom::report(const Report &reportLine)
{
    VelmoraCommon_LogError(reportLine.file);
    emit logSignal(reportLine.screen);
}
