#include "logplatform.h"

#include <cwchar>

FILE *logOpenAppend(const QString &path)
{
    return _wfopen(reinterpret_cast<const wchar_t *>(path.utf16()), L"a+");
}

// The file is closed after every line or batch of lines, so there is never
// an open file to compare with the path.
LogFileId logIdOfOpenFile(FILE *)
{
    return {};
}

LogFileId logIdOfPath(const QString &)
{
    return {};
}

bool logCanKeepOpen()
{
    return false;
}

bool logLocalTime(std::time_t seconds, std::tm *result)
{
    return localtime_s(result, &seconds) == 0;
}
