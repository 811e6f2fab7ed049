#include "logplatform.h"

#include <QFile>

FILE *logOpenAppend(const QString &path)
{
    return std::fopen(QFile::encodeName(path).constData(), "a+");
}

bool logLocalTime(std::time_t seconds, std::tm *result)
{
    return localtime_r(&seconds, result) != nullptr;
}
