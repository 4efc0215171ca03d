// A line of stations on one PostgreSQL server: lindprog-cli run processes,
// each on its own simulator, sharing the serial pool and the unit records;
// a station killed mid-unit, the server stopped mid-unit, and a station's
// SQLite history moved in. Runs under pg_virtualenv (ctest does that); skips
// without a server.

#include "core/link/AdapterCommands.h"
#include "core/ops/ExitCode.h"
#include "support/CliProcess.h"
#include "support/JobFixture.h"
#include "support/PgServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <thread>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TCliProcess;
using test::TSimPty;

class CliLineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        LINDPROG_NEEDS_PG();
        test::TEnvPort::ClearAll();
        test::WriteJobFiles(Dir.Path);
        Line = test::FreshPgDatabase();
    }

    // lindprog-cli run on COM<port> in a folder of its own.
    std::unique_ptr<TCliProcess> Station(int port, std::vector<std::string> more = {})
    {
        const fs::path folder = Dir.Path / ("station" + std::to_string(port));
        fs::create_directories(folder);
        std::vector<std::string> args{
            "run",       (Dir.Path / "job.toml").string(), "-p", "COM" + std::to_string(port), "--db", Line,
            "--station", "bench-" + std::to_string(port)};
        args.insert(args.end(), more.begin(), more.end());
        return std::make_unique<TCliProcess>(folder, args);
    }

    std::vector<json> Units()
    {
        TCliProcess exported(Dir.Path, {"db", "export", "--db", Line, "--json"});
        EXPECT_EQ(exported.Wait(), 0) << exported.Err();
        return exported.JsonLines();
    }

    std::vector<std::uint64_t> PassingSerials()
    {
        std::vector<std::uint64_t> serials;
        for (const auto& unit : Units())
            if (unit["result"] == "PASS")
                serials.push_back(unit["serial"]);
        std::sort(serials.begin(), serials.end());
        return serials;
    }

    test::TScratchDir Dir;
    std::string Line;
};

void ExpectContiguousFrom(const std::vector<std::uint64_t>& serials, std::uint64_t first, std::size_t count)
{
    ASSERT_EQ(serials.size(), count);
    for (std::size_t k = 0; k < count; ++k)
        EXPECT_EQ(serials[k], first + k);
}

// Four stations loop ten boards each: forty numbers, none twice, none left
// out. Then a fifth, killed while its adapter withholds a write reply: the
// server ends its session, and its number goes to the next unit anywhere.
TEST_F(CliLineTest, FourStationsShareOnePoolAndAKilledStationsNumberComesBack)
{
    std::vector<std::unique_ptr<TSimPty>> sims;
    std::vector<std::unique_ptr<TCliProcess>> stations;
    for (int port = 1; port <= 4; ++port) {
        sims.push_back(std::make_unique<TSimPty>(test::TwoRegions("detached"), port));
        stations.push_back(Station(port, {"--loop", "--count", "10"}));
    }
    std::vector<std::thread> hands;
    for (auto& sim : sims)
        hands.emplace_back(test::PlaceBoards, std::ref(*sim), 10);
    for (auto& hand : hands)
        hand.join();
    for (auto& station : stations)
        EXPECT_EQ(station->Wait(), 0) << station->Err();
    ExpectContiguousFrom(PassingSerials(), 1000, 40);

    auto hanging = test::TwoRegions();
    hanging["faults"] = json::parse(R"([{"command": 162, "kind": "no_answer"}])");
    TSimPty fifth(hanging, 5);
    {
        const auto killed = Station(5);
        test::WaitForRequests(fifth, 0, {Cmd::WriteBlock});
        killed->Signal(SIGKILL);
        killed->Wait();
    }
    test::WaitForSessionsGone(Line);
    const auto next = Station(2);
    ASSERT_EQ(next->Wait(), 0) << next->Err();
    EXPECT_NE(next->Out().find("PASS unit 1 COM2 serial 1040 "), std::string::npos) << next->Out();

    TCliProcess stats(Dir.Path, {"db", "stats", "--db", Line, "--by", "station", "--json"});
    ASSERT_EQ(stats.Wait(), 0) << stats.Err();
    const json report = stats.JsonLines().at(0);
    ASSERT_EQ(report["stations"].size(), 4u);
    EXPECT_EQ(report["stations"][1]["station"], "bench-2");
    EXPECT_EQ(report["stations"][1]["units"], 11);
    EXPECT_EQ(report["line"]["units"], 41);
    EXPECT_EQ(report["line"]["yield"], 100.0);
}

// The server stops at once while the third unit writes, and comes back a
// moment later: that unit fails with the database's exit code, the loop
// waits for the server and goes on, and the unit's number is not lost.
TEST_F(CliLineTest, AServerGoneMidUnitFailsThatUnitAndTheLoopCarriesOn)
{
    auto scenario = test::TwoRegions("detached");
    scenario["faults"] = json::parse(R"([{"command": 162, "kind": "delay", "delay_ms": 1500, "skip": 2, "times": 1}])");
    TSimPty sim(scenario, 1);
    const auto station = Station(1, {"--loop", "--count", "5"});
    std::thread hand(test::PlaceBoards, std::ref(sim), 5);
    test::WaitForRequests(sim, 0, {Cmd::WriteBlock, Cmd::WriteBlock, Cmd::WriteBlock});
    test::PgStopNow();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    test::PgStart();
    hand.join();
    EXPECT_EQ(station->Wait(), ExitCode::Database) << station->Err();
    EXPECT_NE(station->Out().find("FAIL unit 3 COM1 unit database: postgresql:///"), std::string::npos)
        << station->Out();
    EXPECT_NE(station->Err().find("trying again in 1 s"), std::string::npos) << station->Err();
    EXPECT_NE(station->Err().find("answers again"), std::string::npos) << station->Err();
    ExpectContiguousFrom(PassingSerials(), 1000, 4);
}

// A station's SQLite history moves into the line's database once, however
// often it is imported, and the pool goes on after its numbers.
TEST_F(CliLineTest, ImportingAStationsFileTwiceAddsItsUnitsOnce)
{
    TSimPty sim(test::TwoRegions(), 1);
    const std::string file = (Dir.Path / "bench-1.db").string();
    TCliProcess before(Dir.Path, {"run", (Dir.Path / "job.toml").string(), "-p", "COM1", "--db", file});
    ASSERT_EQ(before.Wait(), 0) << before.Err();
    for (const char* added : {"1 of 1 units added", "0 of 1 units added"}) {
        TCliProcess import(Dir.Path, {"db", "import", "--from", file, "--db", Line});
        ASSERT_EQ(import.Wait(), 0) << import.Err();
        EXPECT_NE(import.Out().find(added), std::string::npos) << import.Out();
    }
    const auto next = Station(1);
    ASSERT_EQ(next->Wait(), 0) << next->Err();
    ExpectContiguousFrom(PassingSerials(), 1000, 2);
}

} // namespace
} // namespace lindprog
