// The loop's rules as a table: which waits and units end it, with what, and
// after how many units, whatever front end runs it.

#include "core/production/UnitLoop.h"

#include <gtest/gtest.h>

#include <deque>

namespace lindprog {
namespace {

// Waits that end as scripted; Ready once the script runs out.
class TScriptedWait final : public TBoardWait {
public:
    explicit TScriptedWait(std::deque<TWaitEnd> ends) : Ends(std::move(ends)) {}
    TWaitEnd ForBoard() override { return Next(); }
    TWaitEnd ForRemoval() override { return Next(); }

private:
    TWaitEnd Next()
    {
        if (Ends.empty())
            return TWaitEnd::Ready;
        const TWaitEnd end = Ends.front();
        Ends.pop_front();
        return end;
    }
    std::deque<TWaitEnd> Ends;
};

// Units that pass or fail as scripted; nothing (the loop cannot go on) after.
class TScriptedUnits final : public TLoopEvents {
public:
    explicit TScriptedUnits(std::deque<std::optional<bool>> results) : Results(std::move(results)) {}
    std::optional<bool> RunUnit() override
    {
        ++Ran;
        if (Results.empty())
            return std::nullopt;
        const auto result = Results.front();
        Results.pop_front();
        return result;
    }
    void Counted(const TLoopCounters& counters) override { LastCounted = counters.Units(); }

    int Ran = 0;
    std::int64_t LastCounted = 0;

private:
    std::deque<std::optional<bool>> Results;
};

constexpr auto R = TWaitEnd::Ready;
constexpr auto S = TWaitEnd::Stopped;
constexpr auto L = TWaitEnd::LinkLost;

TEST(UnitLoop, EndsAsItsLimitsWaitsAndUnitsSay)
{
    struct TCase {
        const char* Name;
        std::deque<TWaitEnd> Waits; // board, removal, board, ...
        std::deque<std::optional<bool>> Units;
        TLoopLimits Limits;
        TLoopEnd End;
        int Ran;
        std::int64_t Passed, Failed;
    };
    const std::vector<TCase> cases{
        {"stopped while waiting for the first board", {S}, {true}, {}, TLoopEnd::Stopped, 0, 0, 0},
        {"the count ends it after the unit, not before the removal",
         {},
         {true, false, true},
         {3, {}},
         TLoopEnd::Counted,
         3,
         2,
         1},
        {"failures in a row, reset by a pass",
         {},
         {false, true, false, false},
         {{}, 2},
         TLoopEnd::FailuresInRow,
         4,
         1,
         3},
        {"the adapter lost while the board is taken away", {R, L}, {true, true}, {}, TLoopEnd::LinkLost, 1, 1, 0},
        {"stopped while waiting for the board to go", {R, R, R, S}, {true, true}, {}, TLoopEnd::Stopped, 2, 2, 0},
        {"a unit that cannot go on is not counted", {}, {true, std::nullopt}, {}, TLoopEnd::UnitAborted, 2, 1, 0},
    };
    for (const TCase& c : cases) {
        TScriptedWait wait(c.Waits);
        TScriptedUnits units(c.Units);
        TUnitLoop loop(wait, c.Limits);
        EXPECT_EQ(loop.Run(units), c.End) << c.Name;
        EXPECT_EQ(units.Ran, c.Ran) << c.Name;
        EXPECT_EQ(loop.Counters().PassedUnits(), c.Passed) << c.Name;
        EXPECT_EQ(loop.Counters().FailedUnits(), c.Failed) << c.Name;
        EXPECT_EQ(units.LastCounted, c.Passed + c.Failed) << c.Name;
    }
}

TEST(UnitLoop, CountersSayPassedAndFailed)
{
    TLoopCounters counters;
    for (const bool passed : {true, true, false, true})
        counters.Add(passed);
    EXPECT_EQ(counters.Text().rfind("passed 3, failed 1, ", 0), 0u) << counters.Text();
}

} // namespace
} // namespace lindprog
