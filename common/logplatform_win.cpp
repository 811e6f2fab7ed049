#include "logplatform.h"

#include <cwchar>

FILE *logOpenAppend(const QString &path)
{
    return _wfopen(reinterpret_cast<const wchar_t *>(path.utf16()), L"a+");
}

bool logLocalTime(std::time_t seconds, std::tm *result)
{
    return localtime_s(result, &seconds) == 0;
}
