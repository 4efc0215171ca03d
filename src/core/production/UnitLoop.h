#pragma once
// A station's automatic loop, the same for every front end: wait for a
// board, run one unit on it, count it, wait for the board to go (so the same
// board is never programmed twice in a row), and again, until the count,
// the failures in a row or a stop ends it. A stop ends every wait at once
// and never a unit under way: the loop stops between units.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lindprog {

class TAdapter;
class TQueueDispatcher;

// What says that the next board is there: the JTAG chain shows a device
// (Scan), or the operator says so (Enter on a terminal, a click, Space or a
// foot switch in the window).
enum class TTrigger { Scan, Enter };

enum class TWaitEnd {
    Ready,   // the board is there (or gone)
    Stopped, // a stop, or the end of the operator's input
    LinkLost // the adapter stopped answering
};

class TBoardWait {
public:
    virtual ~TBoardWait() = default;
    virtual TWaitEnd ForBoard() = 0;
    // After a unit; an operator's trigger has nothing to wait for.
    virtual TWaitEnd ForRemoval() { return TWaitEnd::Ready; }
    // The adapter's status when the link was lost.
    virtual std::uint8_t Status() const { return 0; }
};

// A board is there while a scan of the JTAG chain finds a device; a scan
// that fails (no target powered yet) counts as an empty chain.
class TChainWait final : public TBoardWait {
public:
    static constexpr std::chrono::milliseconds ScanInterval{250};
    // Stop is asked before every scan; Sleep waits between scans and may
    // return early once a stop was asked for.
    using TStop = std::function<bool()>;
    using TSleep = std::function<void(std::chrono::milliseconds)>;

    TChainWait(TAdapter& port, TQueueDispatcher& dispatcher, TStop stop, TSleep sleep = {});

    TWaitEnd ForBoard() override { return PollChain(true); }
    TWaitEnd ForRemoval() override { return PollChain(false); }
    std::uint8_t Status() const override { return LastStatus; }

private:
    TWaitEnd PollChain(bool wantDevice);

    TAdapter& Port;
    TQueueDispatcher& Dispatcher;
    TStop Stop;
    TSleep Sleep;
    std::uint8_t LastStatus = 0;
};

// One station's running counts.
class TLoopCounters {
public:
    TLoopCounters();
    void Add(bool passed);
    std::int64_t Units() const { return Passed + Failed; }
    std::int64_t PassedUnits() const { return Passed; }
    std::int64_t FailedUnits() const { return Failed; }
    std::int64_t FailuresInRow() const { return InRow; }
    // Units per hour since the loop began.
    double UnitsPerHour() const;
    // "passed 14, failed 1, 212.4 units/h"
    std::string Text() const;

private:
    std::chrono::steady_clock::time_point Start;
    std::int64_t Passed = 0;
    std::int64_t Failed = 0;
    std::int64_t InRow = 0;
};

struct TLoopLimits {
    std::optional<std::int64_t> Count;       // units, then the loop ends
    std::optional<std::int64_t> MaxFailures; // failures in a row, then the loop ends
};

enum class TLoopEnd {
    Stopped,       // a stop, or the operator's input ended
    Counted,       // the count was reached
    FailuresInRow, // too many failures in a row
    LinkLost,      // the adapter stopped answering while the loop waited
    UnitAborted    // a unit said the loop cannot go on (cancelled, no adapter, no database)
};

// What the loop tells its front end, on the loop's thread.
class TLoopEvents {
public:
    virtual ~TLoopEvents() = default;
    virtual void WaitingForBoard() {}
    virtual void WaitingForRemoval() {}
    // Runs one unit on the board that is there: whether it passed, or
    // nothing when the loop cannot go on.
    virtual std::optional<bool> RunUnit() = 0;
    // After a unit, with it counted.
    virtual void Counted(const TLoopCounters&) {}
};

class TUnitLoop {
public:
    TUnitLoop(TBoardWait& wait, TLoopLimits limits);
    TLoopEnd Run(TLoopEvents& events);
    const TLoopCounters& Counters() const { return Counts; }

private:
    TBoardWait& Wait;
    TLoopLimits Limits;
    TLoopCounters Counts;
};

} // namespace lindprog
