#ifndef DURABLEFILE_H
#define DURABLEFILE_H

#include <QString>
#include <QtGlobal>

class QByteArray;

// A file opened for reading and writing whose writes can be forced onto the
// disk, for the event journal. QFile cannot flush the operating system's
// caches, so the calls are made here, one implementation per platform.
class DurableFile
{
public:
    DurableFile() = default;
    ~DurableFile();
    DurableFile(const DurableFile &) = delete;
    DurableFile &operator=(const DurableFile &) = delete;

    // Opens path for reading and writing, creating an empty file when none
    // exists.
    bool open(const QString &path);
    bool isOpen() const;
    void close();

    // The file's size now; -1 on failure.
    qint64 size();
    // Reads up to size bytes from offset into bytes; fewer only at the end
    // of the file.
    bool readAt(qint64 offset, int size, QByteArray *bytes);
    // Writes all of bytes at offset, or fails.
    bool writeAt(qint64 offset, const QByteArray &bytes);
    // Returns once everything written so far, and the file's size, is on
    // the disk (fdatasync / FlushFileBuffers).
    bool sync();
    bool truncate(qint64 size);

    // The last failure of this file, with the system's reason.
    QString errorString() const;

    // Puts source in the place of target in one step: after a crash either
    // the old or the new target is found, never a mix or none. On POSIX
    // systems the rename is durable only after syncDirectory().
    static bool replace(const QString &source, const QString &target, QString *error);
    // Makes the directory's entries (a new or renamed file) durable.
    static bool syncDirectory(const QString &path, QString *error);

private:
    void setSystemError(const QString &action);

    // File descriptor, or the HANDLE on Windows; -1 while closed.
    qintptr nativeHandle = -1;
    QString path;
    QString lastError;
};

#endif // DURABLEFILE_H
