#ifndef VELMORAPGMARKWRITER_H
#define VELMORAPGMARKWRITER_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class VelmoraPgConnection;

// Writes the marks of the journal's events in PostgreSQL (sent, delivered,
// refused, requeued, released) from a thread of its own, so that no worker
// waits for the database: they are queued and written in order, consecutive
// marks of one kind in one statement, none for an event delivered later in
// the same batch but its delivery. A mark the database did not take is
// tried again every second until it does. The thread has the only use of
// its connection.
class VelmoraPgMarkWriter
{
public:
    enum class Mark : quint8 { Sent, Delivered, Refused, Requeued, Released };

    // Told after each batch whether the database took it, with libpq's
    // reason when not; called from the writer's thread, without its lock.
    using DatabaseNote = std::function<void(bool answered, const QString &reason)>;

    VelmoraPgMarkWriter(const QString &connectionString, DatabaseNote note);
    // Waits a moment for the marks still queued, then ends the thread.
    ~VelmoraPgMarkWriter();
    VelmoraPgMarkWriter(const VelmoraPgMarkWriter &) = delete;
    VelmoraPgMarkWriter &operator=(const VelmoraPgMarkWriter &) = delete;

    // Queues a mark; a journal id of 0 (an event never journaled) is none.
    void queue(Mark mark, qint64 journalId);
    // Returns once every mark queued so far is written, or false at the
    // deadline.
    bool flush(qint64 timeoutMs);

    // How long one statement of marks may wait for its answer at most.
    static constexpr qint64 kWriteTimeoutMs = 5000;

private:
    struct QueuedMark
    {
        Mark mark;
        qint64 journalId;
    };

    void writeMarks();
    static void dropMarksDeletedLater(std::deque<QueuedMark> &batch);
    bool writeMarkRun(Mark mark, const QVector<QByteArray> &ids, QString *error);

    const DatabaseNote note;
    std::unique_ptr<VelmoraPgConnection> connection;

    std::mutex markMutex;
    std::condition_variable markWake;
    std::condition_variable marksWritten;
    std::deque<QueuedMark> marks;
    bool markWriting = false;
    bool stopping = false;
    std::thread markThread;
};

#endif // VELMORAPGMARKWRITER_H
