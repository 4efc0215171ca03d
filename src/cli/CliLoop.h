#pragma once
// The production loop's waiting and counting: between units a port waits for
// the next board (a device on the JTAG chain, or Enter from the operator),
// and after a unit for the board to go, so the same board is never programmed
// twice in a row. A stop signal ends every wait at once.

#include "cli/CliOptions.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace lindprog {
class TDevicePort;
class TQueueDispatcher;
} // namespace lindprog

namespace lindprog::cli {

enum class TWaitEnd {
    Ready,   // the board is there (or gone)
    Stopped, // a stop signal, or the end of the operator's input
    LinkLost // the adapter stopped answering
};

class TTargetWait {
public:
    // How often the chain is scanned while waiting.
    static constexpr std::chrono::milliseconds ScanInterval{250};

    TTargetWait(TDevicePort& port, TQueueDispatcher& dispatcher, TTrigger trigger);

    TWaitEnd ForBoard();
    TWaitEnd ForRemoval();
    // The adapter's status when the link was lost.
    std::uint8_t Status() const { return LastStatus; }

private:
    TWaitEnd PollChain(bool wantDevice);
    TWaitEnd ReadEnter();

    TDevicePort& Port;
    TQueueDispatcher& Dispatcher;
    const TTrigger Trigger;
    std::uint8_t LastStatus = 0;
};

// One port's running counts.
class TLoopCounters {
public:
    TLoopCounters();
    void Add(bool passed);
    std::int64_t Units() const { return Passed + Failed; }
    std::int64_t FailuresInRow() const { return InRow; }
    // "passed 14, failed 1, 212.4 units/h"
    std::string Text() const;

private:
    std::chrono::steady_clock::time_point Start;
    std::int64_t Passed = 0;
    std::int64_t Failed = 0;
    std::int64_t InRow = 0;
};

} // namespace lindprog::cli
