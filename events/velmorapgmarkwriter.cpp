#include "velmorapgmarkwriter.h"

#include "velmorapgconnection.h"

#include <chrono>
#include <unordered_set>
#include <utility>

namespace {

// A mark the database did not take is tried again after this long.
constexpr int kMarkRetryMs = 1000;

} // namespace

VelmoraPgMarkWriter::VelmoraPgMarkWriter(const QString &connectionString, DatabaseNote databaseNote)
    : note(std::move(databaseNote)),
      connection(std::make_unique<VelmoraPgConnection>(connectionString))
{
    markThread = std::thread(&VelmoraPgMarkWriter::writeMarks, this);
}

VelmoraPgMarkWriter::~VelmoraPgMarkWriter()
{
    // Marks made before an orderly end are worth a moment's wait: without
    // them the next active sends those events again.
    flush(2000);
    {
        const std::lock_guard<std::mutex> locker(markMutex);
        stopping = true;
    }
    markWake.notify_all();
    markThread.join();
}

void VelmoraPgMarkWriter::queue(Mark mark, qint64 journalId)
{
    if (journalId == 0)
        return;
    {
        const std::lock_guard<std::mutex> locker(markMutex);
        marks.push_back({mark, journalId});
    }
    markWake.notify_one();
}

bool VelmoraPgMarkWriter::flush(qint64 timeoutMs)
{
    std::unique_lock<std::mutex> locker(markMutex);
    return marksWritten.wait_for(locker, std::chrono::milliseconds(timeoutMs),
                                 [this] { return marks.empty() && !markWriting; });
}

void VelmoraPgMarkWriter::writeMarks()
{
    std::unique_lock<std::mutex> locker(markMutex);
    for (;;) {
        markWake.wait(locker, [this] { return stopping || !marks.empty(); });
        if (stopping)
            return;
        std::deque<QueuedMark> batch;
        batch.swap(marks);
        markWriting = true;
        locker.unlock();
        dropMarksDeletedLater(batch);

        // Consecutive marks of one kind go in one statement; the order of
        // the kinds is kept, so a requeue is never written after the
        // delivery that followed it.
        QString error;
        size_t written = 0;
        connection->closeIfEndedByServer();
        while (written < batch.size()) {
            size_t end = written;
            QVector<QByteArray> ids;
            while (end < batch.size() && batch[end].mark == batch[written].mark)
                ids.append(QByteArray::number(batch[end++].journalId));
            if (!writeMarkRun(batch[written].mark, ids, &error))
                break;
            written = end;
        }

        // Told without the marks' lock, which the workers take.
        if (written < batch.size())
            note(false, error);
        else
            note(true, QString());
        locker.lock();
        markWriting = false;
        if (written < batch.size()) {
            // Back at the front, ahead of marks made meanwhile.
            marks.insert(marks.begin(), batch.begin() + static_cast<std::ptrdiff_t>(written), batch.end());
            markWake.wait_for(locker, std::chrono::milliseconds(kMarkRetryMs), [this] { return stopping; });
            continue;
        }
        if (marks.empty())
            marksWritten.notify_all();
    }
}

// A delivered event's row is deleted whatever its state, so the marks of
// that event queued before its delivery need not be written: without them
// the deliveries of a busy line make one statement per batch instead of
// two per event, and the database keeps up with the line. The marks left
// keep their order.
void VelmoraPgMarkWriter::dropMarksDeletedLater(std::deque<QueuedMark> &batch)
{
    std::unordered_set<qint64> deletedLater;
    std::deque<QueuedMark> kept;
    for (auto mark = batch.rbegin(); mark != batch.rend(); ++mark) {
        if (mark->mark == Mark::Delivered)
            deletedLater.insert(mark->journalId);
        else if (deletedLater.count(mark->journalId) != 0)
            continue;
        kept.push_front(*mark);
    }
    batch.swap(kept);
}

bool VelmoraPgMarkWriter::writeMarkRun(Mark mark, const QVector<QByteArray> &ids, QString *error)
{
    const char *sql = nullptr;
    switch (mark) {
    case Mark::Sent:
        sql = "UPDATE lumari_events SET sent_at = clock_timestamp() WHERE id = ANY($1::bigint[]) AND sent_at IS NULL";
        break;
    case Mark::Delivered:
        sql = "DELETE FROM lumari_events WHERE id = ANY($1::bigint[])";
        break;
    case Mark::Refused:
        sql = "UPDATE lumari_events SET state = 1 WHERE id = ANY($1::bigint[]) AND state = 0";
        break;
    case Mark::Requeued:
        sql = "UPDATE lumari_events SET state = 0 WHERE id = ANY($1::bigint[]) AND state = 1";
        break;
    case Mark::Released:
        sql = "DELETE FROM lumari_events WHERE id = ANY($1::bigint[]) AND state = 1";
        break;
    }
    const VelmoraPgConnection::Result result =
        connection->exec(sql, {VelmoraPgConnection::arrayText(ids)}, kWriteTimeoutMs);
    if (!result.ok) {
        *error = result.error;
        return false;
    }
    error->clear();
    return true;
}
