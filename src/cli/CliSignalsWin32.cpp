// The stop keys on Windows: Ctrl-C and Ctrl-Break, which the console hands to
// a handler on a thread of its own.

#include "cli/CliSignals.h"
#include "core/ops/ExitCode.h"

#include <cstdlib>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace lindprog::cli {

namespace {

std::atomic<bool> Requested = false;
std::atomic<bool> Deferred = false;

BOOL WINAPI OnConsoleEvent(DWORD event)
{
    // Closing the console window or logging off ends the program as usual.
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (Requested.exchange(true) || !Deferred)
        std::_Exit(ExitCode::Interrupted);
    return TRUE;
}

} // namespace

void WatchStopSignals()
{
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void DeferStopsToOperations()
{
    Deferred = true;
}

const std::atomic<bool>& StopRequested()
{
    return Requested;
}

bool IsTerminal(std::FILE* stream)
{
    // Only a console has a console mode; a pipe, a file and NUL (which the C
    // library counts as a terminal) have none.
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

void UseBinaryMode(std::FILE* stream)
{
    ::_setmode(::_fileno(stream), _O_BINARY);
}

int TerminalColumns(std::FILE* stream)
{
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (handle == INVALID_HANDLE_VALUE || ::GetConsoleScreenBufferInfo(handle, &info) == 0)
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

} // namespace lindprog::cli
