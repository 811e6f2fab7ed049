// Prints how fast the event journal makes events durable on this machine.
//
//   bench_journal [--dir DIRECTORY] [--seconds S] [MEASUREMENT...]
//
// The journal is measured in a temporary directory beside the program by
// default, because that is the disk spool/ lives on; a tmpfs would make the
// flushes free and the figures meaningless. Each measurement is one entry of
// the table in main(); new ones are added there.

#include "heapusage.h"
#include "svelmoramsg.h"
#include "velmoraeventjournal.h"
#include "velmoraeventjournalrecord.h"
#include "velmoraheldqueue.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <algorithm>
#include <functional>
#include <mutex>
#include <vector>

namespace {

struct BenchSettings
{
    QString directory;
    double secondsPerRow = 2.0;
};

struct Measurement
{
    QString name;
    QString description;
    std::function<bool(const BenchSettings &, QTextStream &)> run;
};

// A typical alarm event as the decoder builds it.
SVelmoraMsg sampleEvent(int number)
{
    SVelmoraMsg event;
    event.account = QStringLiteral("0A0B0C");
    event.event = QStringLiteral("1130");
    event.group = QStringLiteral("01");
    event.zone = QString::number(number % 1000).rightJustified(3, QLatin1Char('0'));
    event.messageType = QStringLiteral("18");
    event.time = QStringLiteral("12:34:56-01/02");
    return event;
}

// Latencies in microseconds, sorted.
double percentile(const QVector<double> &sorted, double fraction)
{
    if (sorted.isEmpty())
        return 0;
    const int index = std::min(static_cast<int>(fraction * sorted.size()), sorted.size() - 1);
    return sorted.at(index);
}

bool openJournal(VelmoraEventJournal &journal, QTextStream &out)
{
    if (journal.open())
        return true;
    out << "cannot open the journal: " << journal.errorString() << "\n";
    return false;
}

// Durable appends, one event per call and in batches, each batch size in a
// fresh journal for the given time.
bool measureAppends(const BenchSettings &settings, QTextStream &out)
{
    out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
               .arg(QStringLiteral("batch"), 6)
               .arg(QStringLiteral("events/s"), 10)
               .arg(QStringLiteral("appends/s"), 10)
               .arg(QStringLiteral("median us"), 10)
               .arg(QStringLiteral("p99 us"), 10)
               .arg(QStringLiteral("max us"), 10);
    for (const int batchSize : {1, 10, 100}) {
        QTemporaryDir workDirectory(settings.directory + QStringLiteral("/bench_journal-XXXXXX"));
        if (!workDirectory.isValid()) {
            out << "cannot create a directory in " << settings.directory << "\n";
            return false;
        }
        VelmoraEventJournal journal(workDirectory.path() + QStringLiteral("/spool"));
        if (!openJournal(journal, out))
            return false;

        QVector<double> latencies;
        qint64 events = 0;
        QElapsedTimer total;
        total.start();
        while (total.nsecsElapsed() < static_cast<qint64>(settings.secondsPerRow * 1e9)) {
            QVector<SVelmoraMsg> batch;
            for (int index = 0; index < batchSize; ++index)
                batch.append(sampleEvent(static_cast<int>(events) + index));
            QElapsedTimer one;
            one.start();
            if (!journal.appendDurably(batch)) {
                out << "append failed: " << journal.errorString() << "\n";
                return false;
            }
            latencies.append(one.nsecsElapsed() / 1e3);
            events += batchSize;
        }
        const double seconds = total.nsecsElapsed() / 1e9;
        std::sort(latencies.begin(), latencies.end());
        out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                   .arg(batchSize, 6)
                   .arg(events / seconds, 10, 'f', 0)
                   .arg(latencies.size() / seconds, 10, 'f', 0)
                   .arg(percentile(latencies, 0.5), 10, 'f', 0)
                   .arg(percentile(latencies, 0.99), 10, 'f', 0)
                   .arg(latencies.last(), 10, 'f', 0);
        out.flush();
    }
    return true;
}

// Marking events delivered (written without a flush) and the compaction
// that follows the last mark.
bool measureMarks(const BenchSettings &settings, QTextStream &out)
{
    constexpr int kEvents = 10000;
    QTemporaryDir workDirectory(settings.directory + QStringLiteral("/bench_journal-XXXXXX"));
    if (!workDirectory.isValid()) {
        out << "cannot create a directory in " << settings.directory << "\n";
        return false;
    }
    VelmoraEventJournal journal(workDirectory.path() + QStringLiteral("/spool"));
    if (!openJournal(journal, out))
        return false;
    // With no threshold the last mark compacts, and is timed on its own.
    journal.setCompactionThreshold(0);
    QVector<SVelmoraMsg> events;
    for (int index = 0; index < kEvents; ++index)
        events.append(sampleEvent(index));
    if (!journal.appendDurably(events)) {
        out << "append failed: " << journal.errorString() << "\n";
        return false;
    }

    QElapsedTimer timer;
    timer.start();
    for (int index = 0; index < kEvents - 1; ++index)
        journal.markDelivered(events.at(index).journalId);
    const double markSeconds = timer.nsecsElapsed() / 1e9;
    timer.restart();
    journal.markDelivered(events.last().journalId);
    const double lastMarkMicroseconds = timer.nsecsElapsed() / 1e3;
    journal.waitForCompaction();
    const double compactionMicroseconds = timer.nsecsElapsed() / 1e3;

    out << QStringLiteral("marks/s %1   last mark %2 us, the compaction it starts done after %3 us\n")
               .arg((kEvents - 1) / markSeconds, 0, 'f', 0)
               .arg(lastMarkMicroseconds, 0, 'f', 0)
               .arg(compactionMicroseconds, 0, 'f', 0);
    return true;
}

constexpr int kBacklog = 100000;

// Fills a journal in directory with kBacklog pending events, in batches of a
// thousand as a busy receiver would append them.
bool writeBacklog(const QString &directory, QTextStream &out)
{
    VelmoraEventJournal journal(directory);
    if (!openJournal(journal, out))
        return false;
    for (int first = 0; first < kBacklog; first += 1000) {
        QVector<SVelmoraMsg> batch;
        for (int index = first; index < first + 1000; ++index)
            batch.append(sampleEvent(index));
        if (!journal.appendDurably(batch)) {
            out << "append failed: " << journal.errorString() << "\n";
            return false;
        }
    }
    return true;
}

QString perEvent(qint64 bytes)
{
    return bytes < 0 ? QStringLiteral("not measured on this system")
                     : QString::number(static_cast<double>(bytes) / kBacklog, 'f', 0);
}

// Start-up with a large backlog: opening the journal, and what the events
// then cost in memory, in the journal and in a queue of SVelmoraMsg.
bool measureOpen(const BenchSettings &settings, QTextStream &out)
{
    QTemporaryDir workDirectory(settings.directory + QStringLiteral("/bench_journal-XXXXXX"));
    if (!workDirectory.isValid()) {
        out << "cannot create a directory in " << settings.directory << "\n";
        return false;
    }
    const QString spool = workDirectory.path() + QStringLiteral("/spool");
    if (!writeBacklog(spool, out))
        return false;
    const QString path = spool + QLatin1Char('/') + VelmoraEventJournal::kFileName;
    const qint64 fileSize = QFileInfo(path).size();

    // Reading the file's bytes is what no way of opening can avoid.
    QElapsedTimer timer;
    timer.start();
    {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll().size() != fileSize) {
            out << "cannot read " << path << "\n";
            return false;
        }
    }
    const double readMilliseconds = timer.nsecsElapsed() / 1e6;

    QVector<double> openMilliseconds;
    qint64 journalBytes = -1;
    qint64 bothBytes = -1;
    qint64 queueBytes = -1;
    double pendingMilliseconds = 0;
    for (int run = 0; run < 5; ++run) {
        const qint64 heapBefore = heapBytesInUse();
        QVector<SVelmoraMsg> pending;
        qint64 heapOpen = 0;
        qint64 heapBoth = 0;
        {
            VelmoraEventJournal journal(spool);
            timer.restart();
            if (!openJournal(journal, out))
                return false;
            openMilliseconds.append(timer.nsecsElapsed() / 1e6);
            heapOpen = heapBytesInUse();
            timer.restart();
            pending = journal.pendingEvents();
            pendingMilliseconds = timer.nsecsElapsed() / 1e6;
            heapBoth = heapBytesInUse();
        }
        // With the journal gone the queue is left alone, its strings no
        // longer shared with anything.
        const qint64 heapQueue = heapBytesInUse();
        if (pending.size() != kBacklog) {
            out << "the journal holds " << pending.size() << " events, not " << kBacklog << "\n";
            return false;
        }
        if (heapBefore >= 0) {
            journalBytes = heapOpen - heapBefore;
            bothBytes = heapBoth - heapBefore;
            queueBytes = heapQueue - heapBefore;
        }
    }
    std::sort(openMilliseconds.begin(), openMilliseconds.end());
    const double medianOpen = openMilliseconds.at(openMilliseconds.size() / 2);

    out << QStringLiteral("%1 pending events, file %2 bytes (%3 bytes per event)\n")
               .arg(kBacklog)
               .arg(fileSize)
               .arg(static_cast<double>(fileSize) / kBacklog, 0, 'f', 0);
    out << QStringLiteral("open: median %1 ms, best %2 ms (reading the file alone: %3 ms, ratio %4)\n")
               .arg(medianOpen, 0, 'f', 1)
               .arg(openMilliseconds.first(), 0, 'f', 1)
               .arg(readMilliseconds, 0, 'f', 1)
               .arg(medianOpen / qMax(readMilliseconds, 0.001), 0, 'f', 1);
    out << QStringLiteral("pendingEvents(): %1 ms\n").arg(pendingMilliseconds, 0, 'f', 1);
    out << "memory per held event, the journal's own: " << perEvent(journalBytes) << " bytes\n";
    out << "memory per held event, as SVelmoraMsg in a queue: " << perEvent(queueBytes) << " bytes\n";
    out << "memory per held event, both at start-up: " << perEvent(bothBytes) << " bytes\n";
    return true;
}

// Times of the steps of each compaction, as its hook sees them.
class CompactionClock
{
public:
    using Step = VelmoraEventJournal::CompactionStep;

    VelmoraEventJournal::CompactionHook hook()
    {
        return [this](Step step) {
            const std::lock_guard<std::mutex> locker(mutex);
            if (step == Step::Started)
                clock.start();
            const double milliseconds = clock.nsecsElapsed() / 1e6;
            if (step == Step::ReplacementFlushed)
                flushed = milliseconds;
            if (step == Step::Reopened)
                locked.append(milliseconds - flushed);
            if (step == Step::DirectoryFlushed)
                total.append(milliseconds);
        };
    }
    // The whole compaction, and the part under the journal's lock (from the
    // flushed replacement to the reopened journal), in ms.
    QVector<double> totals() const
    {
        const std::lock_guard<std::mutex> locker(mutex);
        return total;
    }
    QVector<double> lockedParts() const
    {
        const std::lock_guard<std::mutex> locker(mutex);
        return locked;
    }

private:
    mutable std::mutex mutex;
    QElapsedTimer clock;
    double flushed = 0;
    QVector<double> total;
    QVector<double> locked;
};

QString spread(QVector<double> values)
{
    if (values.isEmpty())
        return QStringLiteral("none");
    std::sort(values.begin(), values.end());
    return QStringLiteral("median %1 ms, max %2 ms (%3)")
        .arg(percentile(values, 0.5), 0, 'f', 1)
        .arg(values.last(), 0, 'f', 1)
        .arg(values.size());
}

// Compaction with kBacklog events still pending: on its own, and as the
// serial line sets it off while the receiver keeps the backlog full, with
// the time each delivered mark took meanwhile.
bool measureCompaction(const BenchSettings &settings, QTextStream &out)
{
    QTemporaryDir workDirectory(settings.directory + QStringLiteral("/bench_journal-XXXXXX"));
    if (!workDirectory.isValid()) {
        out << "cannot create a directory in " << settings.directory << "\n";
        return false;
    }
    const QString spool = workDirectory.path() + QStringLiteral("/spool");
    if (!writeBacklog(spool, out))
        return false;
    VelmoraEventJournal journal(spool);
    if (!openJournal(journal, out))
        return false;
    const QVector<SVelmoraMsg> pending = journal.pendingEvents();

    QVector<double> compactMilliseconds;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        if (!journal.compact()) {
            out << "compaction failed: " << journal.errorString() << "\n";
            return false;
        }
        compactMilliseconds.append(timer.nsecsElapsed() / 1e6);
    }

    CompactionClock compactionClock;
    journal.setCompactionHook(compactionClock.hook());
    journal.setCompactionThreshold(0);
    QVector<double> markMicroseconds;
    QElapsedTimer total;
    total.start();
    int next = 0;
    const qint64 fileBefore = QFileInfo(journal.filePath()).size();
    qint64 fileLargest = fileBefore;
    while (next < pending.size() && total.nsecsElapsed() < static_cast<qint64>(settings.secondsPerRow * 4e9)) {
        // The backlog stays where it is: a hundred new events for every
        // hundred delivered.
        QVector<SVelmoraMsg> refill;
        for (int index = 0; index < 100 && next < pending.size(); ++index) {
            QElapsedTimer one;
            one.start();
            journal.markDelivered(pending.at(next++).journalId);
            markMicroseconds.append(one.nsecsElapsed() / 1e3);
            refill.append(sampleEvent(next));
        }
        if (!journal.appendDurably(refill)) {
            out << "append failed: " << journal.errorString() << "\n";
            return false;
        }
        fileLargest = qMax(fileLargest, QFileInfo(journal.filePath()).size());
    }
    journal.waitForCompaction();
    std::sort(markMicroseconds.begin(), markMicroseconds.end());

    out << QStringLiteral("compact() with %1 pending, the caller waiting: %2\n").arg(kBacklog).arg(spread(compactMilliseconds));
    out << QStringLiteral("compactions set off by marks: %1; of that under the lock: %2\n")
               .arg(spread(compactionClock.totals()), spread(compactionClock.lockedParts()));
    out << QStringLiteral("%1 delivered marks meanwhile: median %2 us, p99 %3 us, max %4 us; "
                          "file %5 to at most %6 bytes\n")
               .arg(markMicroseconds.size())
               .arg(percentile(markMicroseconds, 0.5), 0, 'f', 0)
               .arg(percentile(markMicroseconds, 0.99), 0, 'f', 0)
               .arg(markMicroseconds.isEmpty() ? 0.0 : markMicroseconds.last(), 0, 'f', 0)
               .arg(fileBefore)
               .arg(fileLargest);
    return true;
}

// What one way of handing events from the journal to the serial worker's
// queue costs: time, and the memory of the journal's records and the queue
// together per event.
struct HandOverCost
{
    double nanosecondsPerEvent = 0;
    qint64 bytesPerEvent = -1;
};

// The events of a flood as the receive pass hands them over, without the
// disk: each one's journal record is built and kept (as the journal keeps
// it), then the event is held. With recordHandedOn the event carries its
// record on and the queue keeps it shared; without it (as before) the queue
// encodes the event a second time and keeps that copy.
HandOverCost handOver(const QVector<SVelmoraMsg> &incoming, bool recordHandedOn)
{
    using Record = VelmoraEventJournalRecord;
    HandOverCost cost;
    const qint64 heapBefore = heapBytesInUse();
    auto *records = new std::vector<QByteArray>;
    records->reserve(std::size_t(incoming.size()));
    auto *queue = new VelmoraHeldQueue;
    QElapsedTimer timer;
    timer.start();
    for (const SVelmoraMsg &event : incoming) {
        records->push_back(Record::encode(Record::Type::Event, event.journalId, event));
        records->back().squeeze();
        if (recordHandedOn) {
            SVelmoraMsg handed = event;
            handed.encoded = records->back();
            handed.encodedStart = Record::kEventFormStart;
            queue->add(handed);
        } else {
            queue->add(event);
        }
    }
    cost.nanosecondsPerEvent = double(timer.nsecsElapsed()) / incoming.size();
    const qint64 heapAfter = heapBytesInUse();
    if (heapBefore >= 0)
        cost.bytesPerEvent = (heapAfter - heapBefore) / incoming.size();
    delete queue;
    delete records;
    return cost;
}

// The hand-over of 100,000 events from 10,000 devices, the way before (the
// event encoded by the journal and again by the queue) and now (once, the
// queue sharing the journal's record), in turns.
bool measureHandOver(const BenchSettings &, QTextStream &out)
{
    constexpr int kEvents = 100000;
    constexpr int kDevices = 10000;
    constexpr int kRounds = 5;
    QVector<SVelmoraMsg> incoming;
    incoming.reserve(kEvents);
    const QDateTime receivedAt = QDateTime::currentDateTimeUtc();
    for (int index = 0; index < kEvents; ++index) {
        SVelmoraMsg event = sampleEvent(index);
        event.deviceId = QString::number(index % kDevices, 16).rightJustified(6, QLatin1Char('0'));
        event.receivedAt = receivedAt;
        event.peerAddress = QStringLiteral("192.0.2.17");
        event.journalId = index + 1;
        incoming << event;
    }
    QVector<double> ratios;
    for (int round = 0; round < kRounds; ++round) {
        // Each way goes first every other round.
        const bool onceFirst = round % 2 == 1;
        HandOverCost twice;
        HandOverCost once;
        if (onceFirst)
            once = handOver(incoming, true);
        twice = handOver(incoming, false);
        if (!onceFirst)
            once = handOver(incoming, true);
        out << QStringLiteral("round %1: encoded twice %2 ns an event, %3 bytes held (journal and queue); "
                              "encoded once %4 ns an event, %5 bytes held\n")
                   .arg(round + 1)
                   .arg(twice.nanosecondsPerEvent, 0, 'f', 0)
                   .arg(twice.bytesPerEvent)
                   .arg(once.nanosecondsPerEvent, 0, 'f', 0)
                   .arg(once.bytesPerEvent);
        ratios.append(once.nanosecondsPerEvent / twice.nanosecondsPerEvent);
    }
    std::sort(ratios.begin(), ratios.end());
    out << QStringLiteral("once / twice time, median of %1 rounds: %2\n")
               .arg(kRounds)
               .arg(ratios.at(ratios.size() / 2), 0, 'f', 2);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);

    const QVector<Measurement> measurements = {
        {QStringLiteral("append"),
         QStringLiteral("durable appends to the event journal, one event per call and in batches"),
         measureAppends},
        {QStringLiteral("mark"),
         QStringLiteral("delivered marks and the compaction after the last one"),
         measureMarks},
        {QStringLiteral("compact"),
         QStringLiteral("compaction with 100,000 pending events, and the marks that wait for it"),
         measureCompaction},
        {QStringLiteral("open"),
         QStringLiteral("start-up with 100,000 pending events, and their memory"),
         measureOpen},
        {QStringLiteral("handover"),
         QStringLiteral("100,000 events from the journal's records into the serial worker's queue, "
                        "encoded twice (as before) and once"),
         measureHandOver},
    };

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Measures the event journal on this machine."));
    parser.addHelpOption();
    const QCommandLineOption directoryOption(
        QStringLiteral("dir"), QStringLiteral("Directory for the temporary journals."),
        QStringLiteral("directory"), QCoreApplication::applicationDirPath());
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"), QStringLiteral("Time for each row of figures."),
        QStringLiteral("seconds"), QStringLiteral("2"));
    parser.addOption(directoryOption);
    parser.addOption(secondsOption);
    QString names;
    for (const Measurement &measurement : measurements)
        names += QStringLiteral("\n  %1: %2").arg(measurement.name, measurement.description);
    parser.addPositionalArgument(QStringLiteral("measurement"),
                                 QStringLiteral("Measurements to run (all by default):") + names);
    parser.process(application);

    BenchSettings settings;
    settings.directory = parser.value(directoryOption);
    bool secondsValid = false;
    settings.secondsPerRow = parser.value(secondsOption).toDouble(&secondsValid);
    if (!secondsValid || settings.secondsPerRow <= 0) {
        out << "--seconds needs a positive number\n";
        return 2;
    }

    const QStringList wanted = parser.positionalArguments();
    for (const QString &name : wanted) {
        const bool known = std::any_of(measurements.cbegin(), measurements.cend(),
                                       [&](const Measurement &m) { return m.name == name; });
        if (!known) {
            out << "unknown measurement: " << name << "\n";
            return 2;
        }
    }

    out << "directory: " << settings.directory << "\n";
    bool allRan = true;
    for (const Measurement &measurement : measurements) {
        if (!wanted.isEmpty() && !wanted.contains(measurement.name))
            continue;
        out << "\n== " << measurement.name << ": " << measurement.description << "\n";
        out.flush();
        allRan = measurement.run(settings, out) && allRan;
        out.flush();
    }
    return allRan ? 0 : 1;
}
