#include "core/base/Win32Error.h"

#include <cerrno>
#include <system_error>

#include <windows.h>

namespace lindprog {

namespace {

// The POSIX error that says the same, or 0 when there is none as precise.
int PosixEquivalent(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_WRITE_PROTECT: return EROFS;
    default: return 0;
    }
}

std::string SystemMessage(unsigned long error)
{
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    ::LocalFree(text);
    // The system ends its sentences with a full stop and a line break; the
    // messages this text goes into supply their own end.
    while (!message.empty() &&
           (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return message.empty() ? "system error " + std::to_string(error) : message;
}

} // namespace

std::string Win32ErrorText(unsigned long error)
{
    if (const int posix = PosixEquivalent(error))
        return std::error_code(posix, std::generic_category()).message();
    return SystemMessage(error);
}

} // namespace lindprog
