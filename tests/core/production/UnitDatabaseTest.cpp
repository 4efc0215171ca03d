#include "core/production/UnitDatabase.h"

#include "core/production/UnitReport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <csignal>
#include <limits>
#include <set>

#include <sys/wait.h>
#include <unistd.h>

namespace lindprog {
namespace {

constexpr std::uint64_t Largest = std::numeric_limits<std::uint32_t>::max();

TUnitRecord Unit(const TSerialLease& lease, bool passed)
{
    TUnitRecord unit;
    unit.Started = unit.Ended = UtcTimestamp(std::chrono::system_clock::now());
    unit.Job = lease.Series;
    unit.Serial = lease.Number;
    unit.Passed = passed;
    unit.ExitCode = passed ? 0 : 3;
    unit.FailedStep = passed ? "" : "step 2 write";
    unit.Message = passed ? "" : "Write failed at offset 200 (Device write error, retry)";
    return unit;
}

// Each child process reserves and records `units` passing units.
pid_t SpawnStation(const std::string& path, int units)
{
    const pid_t child = ::fork();
    if (child == 0) {
        int code = 0;
        try {
            TUnitDatabase db(path);
            for (int k = 0; k < units; ++k) {
                const TSerialLease lease = db.ReserveSerial("board", 1, 1, Largest);
                db.RecordUnit(Unit(lease, true), lease);
            }
        } catch (...) {
            code = 1;
        }
        ::_exit(code);
    }
    return child;
}

TEST(UnitDatabase, AFailedUnitsNumberIsReusedFirst)
{
    test::TScratchDir dir;
    TUnitDatabase db((dir.Path / "units.db").string());
    const TSerialLease first = db.ReserveSerial("board", 100, 5, Largest);
    const TSerialLease second = db.ReserveSerial("board", 100, 5, Largest);
    EXPECT_EQ(first.Number, 100u);
    EXPECT_EQ(second.Number, 105u);
    db.RecordUnit(Unit(first, false), first);
    const TSerialLease third = db.ReserveSerial("board", 100, 5, Largest);
    EXPECT_EQ(third.Number, 100u);
    db.RecordUnit(Unit(second, true), second);
    db.RecordUnit(Unit(third, true), third);
    EXPECT_EQ(db.ReserveSerial("board", 100, 5, Largest).Number, 110u);
    EXPECT_EQ(db.ReserveSerial("other", 7, 1, Largest).Number, 7u);

    const auto units = db.Units();
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[0].Message, "Write failed at offset 200 (Device write error, retry)");
    const auto newest = db.LastUnits(2);
    ASSERT_EQ(newest.size(), 2u);
    EXPECT_EQ(newest[0].Id, units[2].Id);
    EXPECT_EQ(newest[1].Id, units[1].Id);
    const TUnitStats stats = db.Stats();
    EXPECT_EQ(stats.Units, 3);
    EXPECT_EQ(stats.Passed, 2);
    EXPECT_EQ(stats.FailuresByStep, (std::map<std::string, std::int64_t>{{"step 2 write", 1}}));
    const std::string csv = UnitsCsv(units);
    EXPECT_NE(csv.find(",\"Write failed at offset 200 (Device write error, retry)\","), std::string::npos) << csv;
    EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), 4);
    EXPECT_EQ(nlohmann::json::parse(UnitsJsonLines(units).substr(0, UnitsJsonLines(units).find('\n')))["serial"], 100);
}

TEST(UnitDatabase, TwoProcessesNeverShareANumber)
{
    test::TScratchDir dir;
    const std::string path = (dir.Path / "units.db").string();
    TUnitDatabase(path).Units(); // the tables exist before the race
    const pid_t stations[] = {SpawnStation(path, 10), SpawnStation(path, 10)};
    for (const pid_t station : stations) {
        int status = -1;
        ASSERT_EQ(::waitpid(station, &status, 0), station);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::set<std::uint64_t> serials;
    for (const auto& unit : TUnitDatabase(path).Units())
        serials.insert(unit.Serial.value_or(0));
    EXPECT_EQ(serials.size(), 20u);
    EXPECT_EQ(*serials.begin(), 1u);
    EXPECT_EQ(*serials.rbegin(), 20u);
}

TEST(UnitDatabase, AKilledOwnersNumberIsReused)
{
    test::TScratchDir dir;
    const std::string path = (dir.Path / "units.db").string();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t owner = ::fork();
    if (owner == 0) {
        TUnitDatabase db(path);
        const char reserved = db.ReserveSerial("board", 1, 1, Largest).Number == 1 ? 'y' : 'n';
        (void)!::write(ready[1], &reserved, 1);
        ::pause();
        ::_exit(0);
    }
    char reserved = 0;
    ASSERT_EQ(::read(ready[0], &reserved, 1), 1);
    EXPECT_EQ(reserved, 'y');
    TUnitDatabase db(path);
    EXPECT_EQ(db.ReserveSerial("board", 1, 1, Largest).Number, 2u); // the owner still runs
    ::kill(owner, SIGKILL);
    ::waitpid(owner, nullptr, 0);
    EXPECT_EQ(db.ReserveSerial("board", 1, 1, Largest).Number, 1u);
    ::close(ready[0]);
    ::close(ready[1]);
}

} // namespace
} // namespace lindprog
