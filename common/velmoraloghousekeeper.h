#ifndef VELMORALOGHOUSEKEEPER_H
#define VELMORALOGHOUSEKEEPER_H

#include <QDate>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

class QTimer;

// Keeps the day logs from filling the disk, on a thread of its own so that
// no frame and no line waits for it:
//   - retention: day logs more than the configured number of days old are
//     deleted (at start and once an hour; 0 days keeps them all);
//   - compression: a day log whose day is over becomes YYYYMMDD_Lumari.log.gz
//     and the plain file is removed once the compressed one is complete and
//     on the disk; a compressed file that exists is never rewritten;
//   - the floor: while the log's disk has less free space than the event
//     journal's own floor plus kFloorAboveJournal, the oldest day logs are
//     deleted, compressed ones first, never the current day's; when nothing
//     is left to delete the day log stops writing, and starts again by
//     itself once the space is back.
// Files of other names in the log directory are never touched.
class VelmoraLogHousekeeper : public QObject
{
    Q_OBJECT

public:
    // Free bytes on the disk of a directory; -1 when that cannot be told.
    using FreeSpaceProbe = std::function<qint64(const QString &directory)>;

    struct Settings
    {
        // The day logs' directory, ending with a slash.
        QString directory;
        // What the event journal needs free; the day logs leave it that
        // much and kFloorAboveJournal more.
        qint64 journalFloorBytes = 0;
        // Null: the floor is not kept.
        FreeSpaceProbe freeSpace;
        // The retention in days, asked at every retention pass.
        std::function<int()> keepDays;
    };

    static constexpr qint64 kFloorAboveJournal = 256LL * 1024 * 1024;
    static constexpr int kFloorCheckMs = 5000;
    static constexpr qint64 kRetentionPeriodSeconds = 3600;
    // A day's file is compressed this long after its day ended: a line
    // written at the turn of the day may still go into it.
    static constexpr qint64 kCompressAfterSeconds = 300;

    explicit VelmoraLogHousekeeper(Settings settings, QObject *parent = nullptr);

    // One day log as its file name tells it.
    struct DayLog
    {
        QString fileName;
        QDate day;
        bool compressed = false;
    };
    // False for names that are not YYYYMMDD_Lumari.log or .log.gz.
    static bool dayLogOf(const QString &fileName, DayLog *log);
    // Of logs, those to delete to keep days of them (none when days is 0).
    static QVector<DayLog> pastRetention(const QVector<DayLog> &logs, const QDate &today, int days);
    // The order in which the floor deletes: compressed files oldest first,
    // then plain ones oldest first; the current day's file never.
    static QVector<DayLog> floorOrder(const QVector<DayLog> &logs, const QDate &today);

    // One pass at the time the log's clock tells: the floor, and retention
    // and compression when they are due (at the first pass, an hour after
    // the last, and when the day has turned).
    void runOnce();
    bool logSuspended() const { return suspended; }

public slots:
    // The first pass, then one every kFloorCheckMs.
    void start();

signals:
    // A line for the window; the day log has it already.
    void logSignal(const QString &line);

private:
    QVector<DayLog> dayLogs() const;
    void removeLeftovers();
    void keepFloor(const QDate &today);
    void applyRetention(const QDate &today);
    void compressFinishedDays(const QDate &today, qint64 now);
    void report(const char *text, const QStringList &args, bool error);

    Settings settings;
    QTimer *timer = nullptr;
    bool suspended = false;
    bool firstPass = true;
    qint64 lastRetentionAt = 0;
    qint64 compressionDueAt = 0;
};

#endif // VELMORALOGHOUSEKEEPER_H
