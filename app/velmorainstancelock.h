#ifndef VELMORAINSTANCELOCK_H
#define VELMORAINSTANCELOCK_H

#include <QString>
#include <QtGlobal>

// Keeps a second copy of the program away from an application directory
// that one copy already uses: two copies writing one event journal lose
// alarms. The lock is an exclusive lock on a file beside the journal, held
// until the object is destroyed or the process ends (the system drops it
// with the process, also after a crash, so a stale file never blocks).
//
// The lock file is never replaced or deleted, unlike the journal itself,
// which compaction renames over: a lock on the journal's own file would stay
// with the old file. On POSIX systems it is an advisory flock(); on Windows
// the file is held open without sharing.
class VelmoraInstanceLock
{
public:
    enum Result {
        Locked,
        // Another process (or another lock object) holds it.
        HeldElsewhere,
        // The file cannot be created or locked at all; see errorString().
        Failed,
    };

    explicit VelmoraInstanceLock(const QString &filePath);
    ~VelmoraInstanceLock();
    VelmoraInstanceLock(const VelmoraInstanceLock &) = delete;
    VelmoraInstanceLock &operator=(const VelmoraInstanceLock &) = delete;

    Result tryLock();
    bool isLocked() const { return nativeHandle != -1; }
    QString filePath() const { return path; }
    // The reason of the last Failed, with the system's words.
    QString errorString() const { return lastError; }

private:
    void release();

    const QString path;
    // File descriptor, or the HANDLE on Windows; -1 while not locked.
    qintptr nativeHandle = -1;
    QString lastError;
};

#endif // VELMORAINSTANCELOCK_H
