#include "cli/CliSignals.h"

#include "cli/ExitCode.h"

#include <cstdlib>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>

#include <pthread.h>
#include <unistd.h>
#endif

namespace lindprog::cli {

namespace {

std::atomic<bool> Requested = false;

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (Requested.exchange(true))
        std::_Exit(ExitCode::Interrupted);
    return TRUE;
}
#endif

} // namespace

void WatchStopSignals()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // The watcher lives as long as the process; it holds no resources.
    std::thread([signals] {
        for (;;) {
            int received = 0;
            if (sigwait(&signals, &received) != 0)
                continue;
            if (Requested.exchange(true))
                ::_exit(ExitCode::Interrupted);
        }
    }).detach();
#endif
}

const std::atomic<bool>& StopRequested()
{
    return Requested;
}

} // namespace lindprog::cli
