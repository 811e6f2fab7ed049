// Prints how fast the event journal makes events durable on this machine.
//
//   bench_journal [--dir DIRECTORY] [--seconds S] [MEASUREMENT...]
//
// The journal is measured in a temporary directory beside the program by
// default, because that is the disk spool/ lives on; a tmpfs would make the
// flushes free and the figures meaningless. Each measurement is one entry of
// the table in main(); new ones are added there.

#include "svelmoramsg.h"
#include "velmoraeventjournal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVector>

#include <algorithm>
#include <functional>

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
    const double compactionMicroseconds = timer.nsecsElapsed() / 1e3;

    out << QStringLiteral("marks/s %1   compaction of %2 events: %3 us\n")
               .arg((kEvents - 1) / markSeconds, 0, 'f', 0)
               .arg(kEvents)
               .arg(compactionMicroseconds, 0, 'f', 0);
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
