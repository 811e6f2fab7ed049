#include "conffileplatform.h"

#include <QFile>
#include <QFileInfo>

bool confIsRegularFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

bool confOpenRegularFile(QFile *file, const QString &path)
{
    // A file in conf\ cannot be a pipe or a device on Windows; a directory
    // in its place is refused here.
    if (!confIsRegularFile(path))
        return false;
    file->setFileName(path);
    return file->open(QIODevice::ReadOnly);
}
