#ifndef CONFFILEPLATFORM_H
#define CONFFILEPLATFORM_H

#include <QString>

class QFile;

// The configuration file's open, which differs between platforms.

// Opens path read-only when it is a regular file. Anything else in its place
// (a FIFO, a device, a directory) is refused without waiting: opening a FIFO
// for reading would block until some other program writes to it.
bool confOpenRegularFile(QFile *file, const QString &path);

// True when path names a regular file (following symbolic links).
bool confIsRegularFile(const QString &path);

#endif // CONFFILEPLATFORM_H
