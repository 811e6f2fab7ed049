#include "scriptedstation.h"

#include <QtGlobal>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr char kTerminator = 0x14;
constexpr char kKeepaliveStart = '1';
constexpr int kPollStepMs = 10;
constexpr int kPathSize = 128;

} // namespace

ScriptedStation::ScriptedStation() : started(std::chrono::steady_clock::now())
{
    char path[kPathSize] = {};
    if (::openpty(&masterFd, &slaveFd, path, nullptr, nullptr) != 0) {
        masterFd = -1;
        slaveFd = -1;
        return;
    }
    ::fcntl(masterFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(slaveFd, F_SETFD, FD_CLOEXEC);
    slavePath = QString::fromLocal8Bit(path);
    worker = std::thread([this] { run(); });
}

ScriptedStation::~ScriptedStation()
{
    stopping = true;
    if (worker.joinable())
        worker.join();
    closeMaster();
    if (slaveFd >= 0)
        ::close(slaveFd);
}

void ScriptedStation::scriptEvents(const QList<Answer> &answers)
{
    std::lock_guard<std::mutex> lock(mutex);
    eventScript.assign(answers.begin(), answers.end());
}

void ScriptedStation::scriptKeepalives(const QList<Answer> &answers)
{
    std::lock_guard<std::mutex> lock(mutex);
    keepaliveScript.assign(answers.begin(), answers.end());
}

void ScriptedStation::setEventDefault(const Answer &answer)
{
    std::lock_guard<std::mutex> lock(mutex);
    eventDefault = answer;
}

void ScriptedStation::setKeepaliveDefault(const Answer &answer)
{
    std::lock_guard<std::mutex> lock(mutex);
    keepaliveDefault = answer;
}

void ScriptedStation::answerLinesContaining(const QByteArray &needle, const Answer &answer)
{
    std::lock_guard<std::mutex> lock(mutex);
    specialNeedle = needle;
    specialAnswer = answer;
}

void ScriptedStation::hangUp()
{
    std::unique_lock<std::mutex> lock(mutex);
    hangUpRequested = true;
    hungUp.wait(lock, [this] { return masterFd < 0; });
}

bool ScriptedStation::send(const QByteArray &bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (masterFd < 0)
        return false;
    return ::write(masterFd, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

QList<QByteArray> ScriptedStation::lines() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return received;
}

QList<QByteArray> ScriptedStation::eventLines() const
{
    QList<QByteArray> result;
    for (const QByteArray &line : lines()) {
        if (!line.startsWith(kKeepaliveStart))
            result.append(line);
    }
    return result;
}

QList<QByteArray> ScriptedStation::keepaliveLines() const
{
    QList<QByteArray> result;
    for (const QByteArray &line : lines()) {
        if (line.startsWith(kKeepaliveStart))
            result.append(line);
    }
    return result;
}

QList<qint64> ScriptedStation::lineTimes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return receivedTimes;
}

QByteArray ScriptedStation::receivedBytes() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return allBytes;
}

qint64 ScriptedStation::elapsedMs() const
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now()
                                                                 - started)
        .count();
}

ScriptedStation::Answer ScriptedStation::answerFor(const QByteArray &line)
{
    if (!specialNeedle.isEmpty() && line.contains(specialNeedle))
        return specialAnswer;
    const bool keepalive = line.startsWith(kKeepaliveStart);
    std::deque<Answer> &script = keepalive ? keepaliveScript : eventScript;
    if (script.empty())
        return keepalive ? keepaliveDefault : eventDefault;
    const Answer answer = script.front();
    script.pop_front();
    return answer;
}

void ScriptedStation::closeMaster()
{
    if (masterFd >= 0) {
        ::close(masterFd);
        masterFd = -1;
    }
}

void ScriptedStation::run()
{
    while (!stopping) {
        int fd = -1;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (hangUpRequested) {
                closeMaster();
                hungUp.notify_all();
            }
            fd = masterFd;
        }
        if (fd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            continue;
        }
        pollfd entry{fd, POLLIN, 0};
        if (::poll(&entry, 1, kPollStepMs) <= 0 || !(entry.revents & POLLIN)) {
            // While no program holds the slave open the master reports a
            // hang-up; wait for the next open.
            if (entry.revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            continue;
        }
        char buffer[256];
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
            continue;
        }

        QList<Answer> answers;
        {
            std::lock_guard<std::mutex> lock(mutex);
            allBytes.append(buffer, static_cast<int>(count));
            pending.append(buffer, static_cast<int>(count));
            int end = pending.indexOf(kTerminator);
            while (end >= 0) {
                const QByteArray line = pending.left(end + 1);
                pending.remove(0, end + 1);
                received.append(line);
                receivedTimes.append(elapsedMs());
                answers.append(answerFor(line));
                end = pending.indexOf(kTerminator);
            }
        }
        for (const Answer &answer : answers) {
            if (answer.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(answer.delayMs));
            std::lock_guard<std::mutex> lock(mutex);
            if (answer.hangUp) {
                closeMaster();
                hungUp.notify_all();
                break;
            }
            if (!answer.bytes.isEmpty() && masterFd >= 0) {
                // A program that has closed the port simply misses the answer.
                const ssize_t written = ::write(masterFd, answer.bytes.constData(),
                                                static_cast<size_t>(answer.bytes.size()));
                Q_UNUSED(written)
            }
        }
    }
    std::lock_guard<std::mutex> lock(mutex);
    hungUp.notify_all();
}
