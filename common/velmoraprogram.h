#ifndef VELMORAPROGRAM_H
#define VELMORAPROGRAM_H

#include <QString>

// What the program says of itself, and where its files are under the
// application directory, each fact kept here once.
namespace VelmoraProgram {

QString name();
// The project version the build was made from.
QString version();
QString releaseDate();
QString webAddress();
// The title of the warning boxes.
QString warningTitle();

// Folders under the application directory, each ending with a slash.
QString logDirectory(const QString &applicationDirectory);
QString confDirectory(const QString &applicationDirectory);
QString spoolDirectory(const QString &applicationDirectory);
QString confFilePath(const QString &applicationDirectory);

} // namespace VelmoraProgram

#endif // VELMORAPROGRAM_H
