#include <QString>

#include <windows.h>

QString qt_error_string(int errorCode)
{
    wchar_t *buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(errorCode), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::u16string message;
    if (length > 0 && buffer)
        message.assign(reinterpret_cast<const char16_t *>(buffer), length);
    LocalFree(buffer);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n'))
        message.pop_back();
    return QString(message);
}
