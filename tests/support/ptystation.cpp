#include "ptystation.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {
constexpr char kLineEnd = '\x14';
}

PtyStation::PtyStation(QObject *parent)
    : QObject(parent)
    , answerPolicy([](const QByteArray &, int) { return ack(); })
{
    char name[256] = {};
    if (openpty(&masterFd, &slaveFd, name, nullptr, nullptr) != 0) {
        masterFd = slaveFd = -1;
        return;
    }
    path = QString::fromLocal8Bit(name);
    // Raw on our side too, so 0x14 and 0x06 pass untouched before the
    // program has configured the line.
    termios settings{};
    tcgetattr(slaveFd, &settings);
    cfmakeraw(&settings);
    tcsetattr(slaveFd, TCSANOW, &settings);
    fcntl(masterFd, F_SETFL, fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    // The program under test must not inherit the station's ends: a master
    // kept open in its process would keep the line alive after the station
    // went away.
    fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    notifier = new QSocketNotifier(masterFd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &PtyStation::readMaster);
}

PtyStation::~PtyStation()
{
    // The notifier goes before the descriptor it watches.
    delete notifier;
    if (masterFd >= 0)
        ::close(masterFd);
    if (slaveFd >= 0)
        ::close(slaveFd);
}

QList<QByteArray> PtyStation::eventLines() const
{
    QList<QByteArray> events;
    for (const QByteArray &line : received) {
        if (!isKeepalive(line))
            events << line;
    }
    return events;
}

int PtyStation::keepaliveCount() const
{
    return received.size() - eventLines().size();
}

void PtyStation::setAcknowledging(bool acknowledge)
{
    setAnswerPolicy([acknowledge](const QByteArray &, int) { return acknowledge ? ack() : QByteArray(); });
}

bool PtyStation::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    // Runs the event loop without the fixed naps of QTest::qWait, so that the
    // station answers at once however many lines come.
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

bool PtyStation::waitForLines(int count, int timeoutMs)
{
    return waitUntil([this, count] { return received.size() >= count; }, timeoutMs);
}

bool PtyStation::waitForEventLines(int count, int timeoutMs)
{
    return waitUntil([this, count] { return eventLines().size() >= count; }, timeoutMs);
}

bool PtyStation::waitForAcknowledgedEvents(int count, int timeoutMs)
{
    return waitUntil([this, count] { return acknowledged.size() >= count; }, timeoutMs);
}

void PtyStation::readMaster()
{
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(masterFd, buffer, sizeof buffer);
        if (count <= 0)
            break;
        pending.append(buffer, static_cast<int>(count));
    }
    int end;
    while ((end = pending.indexOf(kLineEnd)) >= 0) {
        const QByteArray line = pending.left(end + 1);
        pending.remove(0, end + 1);
        received << line;
        const QByteArray answer = answerPolicy(line, received.size() - 1);
        if (answer.isEmpty())
            continue;
        if (answerDelayMs > 0)
            QTimer::singleShot(answerDelayMs, this, [this, line, answer] { writeAnswer(line, answer); });
        else
            writeAnswer(line, answer);
    }
}

void PtyStation::writeAnswer(const QByteArray &line, const QByteArray &answer)
{
    if (::write(masterFd, answer.constData(), static_cast<size_t>(answer.size())) == answer.size()
        && answer.startsWith('\x06') && !isKeepalive(line))
        acknowledged << line;
}
