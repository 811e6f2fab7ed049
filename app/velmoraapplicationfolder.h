#ifndef VELMORAAPPLICATIONFOLDER_H
#define VELMORAAPPLICATIONFOLDER_H

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class VelmoraClock;
class VelmoraEventJournal;
class VelmoraInstanceLock;
class VelmoraLogHousekeeper;

// The application directory's own files, step by step as start-up needs
// them: the day log in log/, the lock in spool/ that keeps a second copy of
// the program out, the configuration in conf/, and the thread that keeps the
// day logs within their days and the disk's space. What goes wrong is said
// through the two functions start-up hands over.
class VelmoraApplicationFolder : public QObject
{
    Q_OBJECT

public:
    // A report in the window and the day log: the template (translated in
    // the window's context, %1 the program's name) and its arguments.
    using Report = std::function<void(const char *sourceText, bool isError, const QStringList &args)>;
    // A start-up failure nobody may miss: a box, or standard error.
    using Warn = std::function<void(const QString &text, bool alsoToDayLog)>;

    VelmoraApplicationFolder(const QString &directory, Report report, Warn warn, QObject *parent = nullptr);
    // The program itself ends without this; a start-up made and dropped (as
    // tests do) stops the housekeeping thread it started.
    ~VelmoraApplicationFolder() override;

    // Each 1 when start-up goes on, -1 when it ends here.
    int openDayLog(const VelmoraClock &clock);
    int lock();
    int loadConfiguration();
    // The event journal in spool/, a process-lifetime object: it lives as
    // long as the threads that use it. Returned also when it could not be
    // opened, which is said: it retries on every append.
    VelmoraEventJournal *openEventJournal();

    // Retention, compression and the free-space floor of the day logs, on a
    // thread of their own: made here, its lines connected by the caller,
    // then started.
    VelmoraLogHousekeeper *makeLogHousekeeper();
    void startLogHousekeeping();
    // The retention the housekeeping thread reads, from new settings.
    void setLogKeepDays(int days) { logKeepDays = days; }

private:
    const QString directory;
    Report report;
    Warn warn;
    std::unique_ptr<VelmoraInstanceLock> instanceLock;
    QThread *logHousekeepingThread = nullptr;
    std::atomic<int> logKeepDays{0};
};

#endif // VELMORAAPPLICATIONFOLDER_H
