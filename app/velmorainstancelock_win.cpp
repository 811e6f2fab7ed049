#include "velmorainstancelock.h"

#include <QDir>

#include <windows.h>

VelmoraInstanceLock::VelmoraInstanceLock(const QString &filePath)
    : path(filePath)
{
}

VelmoraInstanceLock::~VelmoraInstanceLock()
{
    release();
}

VelmoraInstanceLock::Result VelmoraInstanceLock::tryLock()
{
    if (isLocked())
        return Locked;
    const QString native = QDir::toNativeSeparators(path);
    // No sharing at all: while this handle is open, every other open of the
    // file fails with a sharing violation.
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(native.utf16()),
                                      GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
            return HeldElsewhere;
        lastError = QStringLiteral("Cannot open %1: %2").arg(path, qt_error_string(static_cast<int>(code)));
        return Failed;
    }
    nativeHandle = reinterpret_cast<qintptr>(handle);
    return Locked;
}

void VelmoraInstanceLock::release()
{
    if (nativeHandle != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(nativeHandle));
        nativeHandle = -1;
    }
}
