#ifndef VELMORACONF_H
#define VELMORACONF_H

#include "svelmoraconf.h"

#include <QByteArray>
#include <QString>

class QStringList;

// The one configuration record of the process; never null.
SVelmoraConf *VelmoraCommon_GetConf();

// Every field to its default; a null record is left alone.
void VelmoraCommon_SetDefaultConf(SVelmoraConf *conf);

// 0 when the file was opened and recognised (fields read up to the end or up
// to the first XML error stand), -1 when it cannot be opened or is not a
// version 1.0 configuration file (or is not a regular file: a FIFO or a
// device in its place is refused at once instead of waited on). A UTF-8 byte
// order mark at the start is accepted. On 0, fallbackFields (when given)
// receives the element names of the fields that did not get the value the
// file wrote: absent, unconvertible or out of range, so holding a default or
// a replacement value.
int VelmoraCommon_ReadConf(const QString &path, SVelmoraConf *conf, QStringList *fallbackFields = nullptr);

// 1 when written, -1 when not. The file is replaced atomically: a failed
// write leaves the previous file as it was.
int VelmoraCommon_WriteConf(const SVelmoraConf *conf, const QString &path);

// The exact bytes the writer puts into the file, before any line-end
// translation of the platform (lines end with '\n' here).
QByteArray VelmoraCommon_ConfFileText(const SVelmoraConf &conf);

// Keeps a copy of an existing file at path + ".bak" before start-up
// overwrites it with defaults. 1 when there was nothing to keep or the copy
// was made, -1 when the copy failed or the path is not a regular file.
int VelmoraCommon_BackupConf(const QString &path);

#endif // VELMORACONF_H
