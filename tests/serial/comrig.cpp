#include "comrig.h"

#include "serialindexmaps.h"
#include "velmoralog.h"

#include <QDateTime>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutexLocker>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr qint64 kFixedLogDay = 1700000000; // one day's file for the whole run

// Never moved, and never destroyed: the day log may be written to until the
// process ends.
const VelmoraClock &fixedLogClock()
{
    static const auto *clock = new VelmoraManualClock(QDateTime::fromSecsSinceEpoch(kFixedLogDay));
    return *clock;
}

QTemporaryDir &logDirectory()
{
    static QTemporaryDir directory;
    return directory;
}

} // namespace

SVelmoraComTiming rigTiming(int keepaliveMs, int absenceRetryMs)
{
    SVelmoraComTiming timing;
    timing.answerPauseMs = kRigAnswerPauseMs;
    timing.readIntervalMs = kRigReadMs;
    timing.readPerByteMs = kRigReadMs;
    timing.readConstantMs = kRigReadMs;
    timing.keepaliveMs = keepaliveMs;
    timing.absenceRetryMs = absenceRetryMs;
    timing.reopenMs = kRigReopenMs;
    return timing;
}

ComRig::ComRig(int keepaliveMs, VelmoraEventStore *store, int absenceRetryMs)
{
    thread.setPortName(station.portName());
    thread.setBaudRate(baudRateFromIndex(7));
    thread.setParity(checkThreeWayIndex(0));
    thread.setDataBits(dataBitsFromIndex(1));
    thread.setStopBits(checkStopBitsIndex(0));
    thread.setServer(QStringLiteral("01"));
    thread.setLine(QStringLiteral("1"));
    thread.setTiming(rigTiming(keepaliveMs, absenceRetryMs));
    thread.setEventStore(store);
}

ComRig::~ComRig() = default;

bool ComRig::start()
{
    thread.startWorker();
    if (!worker())
        return false;
    connect(worker(), &VelmoraCom::logSignal, this, [this](const QString &text) { screenLines.append(text); });
    return true;
}

void ComRig::open()
{
    QMetaObject::invokeMethod(&thread, &VelmoraComThread::comStartSlot, Qt::QueuedConnection);
}

void ComRig::close()
{
    QMetaObject::invokeMethod(worker(), &VelmoraCom::stopSlot, Qt::QueuedConnection);
}

void ComRig::settle()
{
    // The thread object's own queued calls (start requests) go first.
    QCoreApplication::processEvents();
    QMetaObject::invokeMethod(worker(), [] {}, Qt::BlockingQueuedConnection);
}

void ComRig::advance(int milliseconds)
{
    settle();
    clock.advance(milliseconds);
    settle();
}

bool ComRig::advanceUntil(const std::function<bool()> &done, int stepMs, int maxSteps)
{
    for (int step = 0; step < maxSteps; ++step) {
        QTest::qWait(5);
        if (done())
            return true;
        advance(stepMs);
    }
    QTest::qWait(5);
    return done();
}

bool ComRig::startAndOpen()
{
    if (!station.isValid() || (!worker() && !start()))
        return false;
    open();
    return waitForLine(QStringLiteral("[com] %1 is ready to work!").arg(port()));
}

bool ComRig::waitForLine(const QString &text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!screenLines.contains(text)) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(10);
    }
    return true;
}

int ComRig::countLines(const QString &text) const
{
    return screenLines.count(text);
}

SVelmoraMsg makeTestEvent(int number, qint64 journalId)
{
    SVelmoraMsg msg;
    msg.account = QStringLiteral("00%1").arg(number, 4, 10, QLatin1Char('0'));
    msg.event = QStringLiteral("1130");
    msg.group = QStringLiteral("01");
    msg.zone = QStringLiteral("003");
    msg.messageType = QStringLiteral("18");
    msg.time = QStringLiteral("14:05:09-06/12");
    msg.journalId = journalId;
    return msg;
}

QByteArray testEventLine(int number)
{
    return "5011 18" + QByteArray::number(number).rightJustified(4, '0') + "E13001003\x14";
}

void setUpDayLog()
{
    VelmoraCommon_SetLogClock(&fixedLogClock());
    VelmoraCommon_LogInit(logDirectory().path() + QLatin1Char('/'), kLogError);
}

QStringList dayLogLines()
{
    QFile file(QDir(logDirectory().path())
                   .filePath(VelmoraCommon_FormatTime("%Y%m%d", kFixedLogDay)
                             + QStringLiteral("_Lumari.log")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

void RecordingEventStore::markDelivered(qint64 journalId)
{
    QMutexLocker locker(&mutex);
    deliveredIds.append(journalId);
}

void RecordingEventStore::markRefused(qint64 journalId)
{
    QMutexLocker locker(&mutex);
    refusedIds.append(journalId);
}

QList<qint64> RecordingEventStore::delivered() const
{
    QMutexLocker locker(&mutex);
    return deliveredIds;
}

QList<qint64> RecordingEventStore::refused() const
{
    QMutexLocker locker(&mutex);
    return refusedIds;
}
