#ifndef VELMORACONF_H
#define VELMORACONF_H

#include "svelmoraconf.h"

#include <QByteArray>
#include <QString>

// The one configuration record of the process; never null.
SVelmoraConf *VelmoraCommon_GetConf();

// Every field to its default; a null record is left alone.
void VelmoraCommon_SetDefaultConf(SVelmoraConf *conf);

// 0 when the file was opened and recognised (fields read up to the end or up
// to the first XML error stand), -1 when it cannot be opened or is not a
// version 1.0 configuration file.
int VelmoraCommon_ReadConf(const QString &path, SVelmoraConf *conf);

// 1 when written, -1 when not. The file is replaced atomically: a failed
// write leaves the previous file as it was.
int VelmoraCommon_WriteConf(const SVelmoraConf *conf, const QString &path);

// The exact bytes the writer puts into the file, before any line-end
// translation of the platform (lines end with '\n' here).
QByteArray VelmoraCommon_ConfFileText(const SVelmoraConf &conf);

// Keeps a copy of an existing file at path + ".bak" before start-up
// overwrites it with defaults. 1 when there was nothing to keep or the copy
// was made, -1 when the copy failed.
int VelmoraCommon_BackupConf(const QString &path);

#endif // VELMORACONF_H
