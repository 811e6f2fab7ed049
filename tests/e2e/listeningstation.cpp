#include "listeningstation.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <functional>

namespace {

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return true;
}

} // namespace

ListeningStation::~ListeningStation()
{
    kill();
}

bool ListeningStation::start(quint16 port, const QStringList &answerOptions)
{
    listeningPort = 0;
    process.start(QStringLiteral(LUMARI_STATION_PATH),
                  QStringList{QStringLiteral("--listen"), QString::number(port), QStringLiteral("--json")}
                      + answerOptions);
    if (!process.waitForStarted(10000))
        return false;
    if (waitUntil([this] { readOutput(); return listeningPort != 0; }, 10000))
        return true;
    qWarning("the station did not listen: %s", process.readAllStandardError().constData());
    return false;
}

void ListeningStation::kill()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(10000);
}

void ListeningStation::readOutput()
{
    pending += process.readAllStandardOutput();
    for (int end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
        const QJsonObject record = QJsonDocument::fromJson(pending.left(end)).object();
        pending.remove(0, end + 1);
        const QString type = record.value(QStringLiteral("type")).toString();
        if (type == QLatin1String("listen")) {
            listeningPort = quint16(record.value(QStringLiteral("port")).toInt());
        } else if (type == QLatin1String("connected")) {
            ++connected;
        } else if (type == QLatin1String("line")) {
            const QByteArray raw =
                QByteArray::fromHex(record.value(QStringLiteral("rawHex")).toString().toLatin1());
            received << raw;
            if (record.value(QStringLiteral("answer")).toString() == QLatin1String("ack")
                && record.value(QStringLiteral("kind")).toString() == QLatin1String("event"))
                acknowledged << raw;
        }
    }
}

QList<QByteArray> ListeningStation::lines()
{
    readOutput();
    return received;
}

QList<QByteArray> ListeningStation::acknowledgedEvents()
{
    readOutput();
    return acknowledged;
}

int ListeningStation::connections()
{
    readOutput();
    return connected;
}

bool ListeningStation::waitForLines(int count, int timeoutMs)
{
    return waitUntil([this, count] { return lines().size() >= count; }, timeoutMs);
}

bool ListeningStation::waitForAcknowledgedEvents(int count, int timeoutMs)
{
    return waitUntil([this, count] { return acknowledgedEvents().size() >= count; }, timeoutMs);
}
