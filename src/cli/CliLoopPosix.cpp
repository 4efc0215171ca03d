// Waiting for Enter on the terminal, by the system's own calls: the wait
// looks for a stop signal every scan interval rather than blocking in read.

#include "cli/CliLoop.h"
#include "cli/CliSignals.h"

#include <mutex>

#include <poll.h>
#include <unistd.h>

namespace lindprog::cli {

namespace {

// Several ports may wait for Enter: each line the operator types starts one.
std::mutex StdinLock;

} // namespace

TWaitEnd TEnterWait::ForBoard()
{
    const std::lock_guard lock(StdinLock);
    for (;;) {
        if (StopRequested())
            return TWaitEnd::Stopped;
        pollfd input{STDIN_FILENO, POLLIN, 0};
        if (::poll(&input, 1, static_cast<int>(TChainWait::ScanInterval.count())) <= 0)
            continue;
        char byte = 0;
        while (::read(STDIN_FILENO, &byte, 1) == 1)
            if (byte == '\n')
                return TWaitEnd::Ready;
        return TWaitEnd::Stopped; // the operator's input has ended
    }
}

} // namespace lindprog::cli
