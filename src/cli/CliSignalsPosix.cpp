// The stop signals on POSIX: SIGINT and SIGTERM, taken by one watcher thread.

#include "cli/CliSignals.h"
#include "core/ops/ExitCode.h"

#include <csignal>
#include <thread>

#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace lindprog::cli {

namespace {
std::atomic<bool> Requested = false;
std::atomic<bool> Deferred = false;
} // namespace

void WatchStopSignals()
{
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
            if (Requested.exchange(true) || !Deferred)
                ::_exit(ExitCode::Interrupted);
        }
    }).detach();
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
    return ::isatty(::fileno(stream)) != 0;
}

void UseBinaryMode(std::FILE*)
{
}

int TerminalColumns(std::FILE* stream)
{
    winsize size{};
    return ::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

} // namespace lindprog::cli
