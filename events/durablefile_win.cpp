#include "durablefile.h"

#include <QByteArray>
#include <QDir>

#include <windows.h>

namespace {

// ReadFile and WriteFile take a 32-bit count.
constexpr DWORD kMaxChunk = 1u << 30;

HANDLE toHandle(qintptr value)
{
    return reinterpret_cast<HANDLE>(value);
}

const wchar_t *nativePath(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

QString withReason(const QString &action, const QString &path, DWORD code)
{
    return QStringLiteral("%1 %2: %3").arg(action, path, qt_error_string(static_cast<int>(code)));
}

OVERLAPPED atOffset(qint64 offset)
{
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFF);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

} // namespace

DurableFile::~DurableFile()
{
    close();
}

bool DurableFile::open(const QString &filePath)
{
    close();
    path = filePath;
    const QString native = QDir::toNativeSeparators(path);
    // No FILE_SHARE_DELETE: nobody may rename the journal away while it is
    // open; compaction closes it first.
    const HANDLE handle = CreateFileW(nativePath(native), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        setSystemError(QStringLiteral("Cannot open"));
        return false;
    }
    nativeHandle = reinterpret_cast<qintptr>(handle);
    return true;
}

bool DurableFile::isOpen() const
{
    return nativeHandle != -1;
}

void DurableFile::close()
{
    if (nativeHandle != -1) {
        CloseHandle(toHandle(nativeHandle));
        nativeHandle = -1;
    }
}

qint64 DurableFile::size()
{
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(toHandle(nativeHandle), &fileSize)) {
        setSystemError(QStringLiteral("Cannot read"));
        return -1;
    }
    return static_cast<qint64>(fileSize.QuadPart);
}

bool DurableFile::readAt(qint64 offset, int size, QByteArray *bytes)
{
    bytes->resize(size);
    int done = 0;
    while (done < size) {
        OVERLAPPED position = atOffset(offset + done);
        DWORD count = 0;
        if (!ReadFile(toHandle(nativeHandle), bytes->data() + done, static_cast<DWORD>(size - done),
                      &count, &position)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            setSystemError(QStringLiteral("Cannot read"));
            return false;
        }
        if (count == 0)
            break;
        done += static_cast<int>(count);
    }
    bytes->resize(done);
    return true;
}

bool DurableFile::writeAt(qint64 offset, const QByteArray &bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        OVERLAPPED position = atOffset(offset + done);
        const DWORD wanted = static_cast<DWORD>(qMin<qint64>(bytes.size() - done, kMaxChunk));
        DWORD count = 0;
        if (!WriteFile(toHandle(nativeHandle), bytes.constData() + done, wanted, &count, &position)) {
            setSystemError(QStringLiteral("Cannot write"));
            return false;
        }
        if (count == 0) {
            SetLastError(ERROR_DISK_FULL);
            setSystemError(QStringLiteral("Cannot write"));
            return false;
        }
        done += count;
    }
    return true;
}

bool DurableFile::sync()
{
    if (!FlushFileBuffers(toHandle(nativeHandle))) {
        setSystemError(QStringLiteral("Cannot flush to disk"));
        return false;
    }
    return true;
}

bool DurableFile::truncate(qint64 size)
{
    LARGE_INTEGER position{};
    position.QuadPart = size;
    if (!SetFilePointerEx(toHandle(nativeHandle), position, nullptr, FILE_BEGIN)
        || !SetEndOfFile(toHandle(nativeHandle))) {
        setSystemError(QStringLiteral("Cannot truncate"));
        return false;
    }
    return true;
}

QString DurableFile::errorString() const
{
    return lastError;
}

void DurableFile::setSystemError(const QString &action)
{
    lastError = withReason(action, path, GetLastError());
}

bool DurableFile::replace(const QString &source, const QString &target, QString *error)
{
    // MOVEFILE_WRITE_THROUGH returns only once the rename is on the disk.
    if (!MoveFileExW(nativePath(QDir::toNativeSeparators(source)),
                     nativePath(QDir::toNativeSeparators(target)),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *error = withReason(QStringLiteral("Cannot replace"), target, GetLastError());
        return false;
    }
    return true;
}

bool DurableFile::syncDirectory(const QString &, QString *)
{
    // Windows has no ordinary call that flushes a directory. FlushFileBuffers
    // on a file commits that file's own metadata, and renames are made with
    // MOVEFILE_WRITE_THROUGH, which is what the journal relies on here.
    return true;
}
