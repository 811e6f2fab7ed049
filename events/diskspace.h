#ifndef DISKSPACE_H
#define DISKSPACE_H

#include <QString>
#include <QtGlobal>

// Free space on a disk, one implementation per platform.
struct DiskSpace
{
    // Below this much free space on the spool's disk the receiver takes no
    // new event, so that the journal can still mark and compact what it has.
    static constexpr qint64 kJournalFloorBytes = 64LL * 1024 * 1024;

    // Bytes an unprivileged program may still write on the disk that holds
    // path (statvfs / GetDiskFreeSpaceEx); -1 with the system's reason in
    // error when it cannot be told.
    static qint64 freeBytes(const QString &path, QString *error);
};

#endif // DISKSPACE_H
