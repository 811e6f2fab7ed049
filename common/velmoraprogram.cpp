#include "velmoraprogram.h"

namespace VelmoraProgram {

QString name()
{
    return QStringLiteral("Lumari");
}

QString version()
{
    return QStringLiteral(LUMARI_VERSION);
}

QString releaseDate()
{
    return QStringLiteral("02.03.2016");
}

QString webAddress()
{
    return QStringLiteral("https://lumari.example.org");
}

QString warningTitle()
{
    return QStringLiteral("Внимание!");
}

QString logDirectory(const QString &applicationDirectory)
{
    return applicationDirectory + QStringLiteral("/log/");
}

QString confDirectory(const QString &applicationDirectory)
{
    return applicationDirectory + QStringLiteral("/conf/");
}

QString spoolDirectory(const QString &applicationDirectory)
{
    return applicationDirectory + QStringLiteral("/spool/");
}

QString confFilePath(const QString &applicationDirectory)
{
    return confDirectory(applicationDirectory) + QStringLiteral("Lumari.conf");
}

} // namespace VelmoraProgram
