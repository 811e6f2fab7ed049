// Works a journal in the directory it is given up to a compaction and ends
// the process on the spot, without any destructor, at the step of that
// compaction it is told: the way a crash or a kill would end Lumari.
//
//   journal_crash_child DIRECTORY STEP background|direct
//
// STEP is the number of a VelmoraEventJournal::CompactionStep, or -1 to let
// the compaction finish. The journal it leaves holds events 1 to 40 (the
// zone is the event's number): 1 to 30 delivered, 31 and 32 refused, 33 to
// 40 pending. Then, while the replacement is written ("background": the mark
// of 30 sets the compaction off; "direct": before compact() is called),
// events 41 and 42 are appended, 33 is delivered and 34 refused.
//
// Exit codes: 3 ended at the step, 0 compaction finished, 1 setup failed.

#include "svelmoramsg.h"
#include "velmoraeventjournal.h"

#include <QCoreApplication>
#include <QStringList>
#include <QVector>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <mutex>

namespace {

constexpr int kEndedAtStep = 3;
constexpr int kSetupFailed = 1;

using Step = VelmoraEventJournal::CompactionStep;

SVelmoraMsg makeEvent(int number)
{
    SVelmoraMsg event;
    event.account = QStringLiteral("0A0B0C");
    event.event = QStringLiteral("1130");
    event.group = QStringLiteral("01");
    event.zone = QString::number(number);
    event.messageType = QStringLiteral("18");
    event.time = QStringLiteral("12:34:56-01/02");
    event.deviceId = QStringLiteral("0A0B0C");
    return event;
}

bool append(VelmoraEventJournal &journal, int first, int last, QVector<qint64> *ids)
{
    QVector<SVelmoraMsg> batch;
    for (int number = first; number <= last; ++number)
        batch.append(makeEvent(number));
    if (!journal.appendDurably(batch))
        return false;
    for (const SVelmoraMsg &event : batch)
        ids->append(event.journalId);
    return true;
}

// A one-shot signal between the compaction's thread and the main thread.
class Gate
{
public:
    void open()
    {
        const std::lock_guard<std::mutex> locker(mutex);
        opened = true;
        changed.notify_all();
    }
    // False when it was not opened in good time: the compaction never came.
    bool wait()
    {
        std::unique_lock<std::mutex> locker(mutex);
        return changed.wait_for(locker, std::chrono::seconds(20), [this] { return opened; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool opened = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 4)
        return kSetupFailed;
    const QString directory = arguments.at(1);
    const int endAt = arguments.at(2).toInt();
    const bool background = arguments.at(3) == QLatin1String("background");

    VelmoraEventJournal journal(directory);
    if (!journal.open())
        return kSetupFailed;
    // No compaction before the one under test.
    journal.setCompactionThreshold(std::numeric_limits<qint64>::max());
    QVector<qint64> ids{0};
    for (int first = 1; first <= 40; first += 10) {
        if (!append(journal, first, first + 9, &ids))
            return kSetupFailed;
    }
    for (int number = 1; number < 30; ++number)
        journal.markDelivered(ids.at(number));
    journal.markRefused(ids.at(31));
    journal.markRefused(ids.at(32));

    const auto meanwhile = [&] {
        if (!append(journal, 41, 42, &ids))
            std::_Exit(kSetupFailed);
        journal.markDelivered(ids.at(33));
        journal.markRefused(ids.at(34));
    };

    Gate replacementFlushed;
    Gate goOn;
    journal.setCompactionHook([&](Step step) {
        if (background && step == Step::ReplacementFlushed) {
            replacementFlushed.open();
            if (!goOn.wait())
                std::_Exit(kSetupFailed);
        }
        if (static_cast<int>(step) == endAt) {
            std::fflush(stdout);
            std::_Exit(kEndedAtStep);
        }
    });

    if (background) {
        journal.setCompactionThreshold(0);
        journal.markDelivered(ids.at(30));
        if (!replacementFlushed.wait())
            return kSetupFailed;
        meanwhile();
        goOn.open();
        journal.waitForCompaction();
    } else {
        journal.markDelivered(ids.at(30));
        meanwhile();
        if (!journal.compact())
            return kSetupFailed;
    }
    std::_Exit(0);
}
