#include "diskspace.h"

#include <QDir>

#include <windows.h>

qint64 DiskSpace::freeBytes(const QString &path, QString *error)
{
    ULARGE_INTEGER available{};
    const QString nativePath = QDir::toNativeSeparators(path);
    if (!GetDiskFreeSpaceExW(reinterpret_cast<const wchar_t *>(nativePath.utf16()), &available, nullptr,
                             nullptr)) {
        const DWORD code = GetLastError();
        if (error) {
            *error = QStringLiteral("Cannot tell the free space of %1: %2")
                         .arg(path, qt_error_string(static_cast<int>(code)));
        }
        return -1;
    }
    // The bytes free to this process's user, quotas included.
    return static_cast<qint64>(available.QuadPart);
}
