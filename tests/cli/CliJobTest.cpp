// Production jobs end to end: lindprog-cli run, job check and db export in a
// child process against simulators whose boards come and go, checked by the
// simulated flash, the unit database and what reached the adapter.

#include "core/link/AdapterCommands.h"
#include "support/CliProcess.h"
#include "support/JobFixture.h"
#include "support/SimLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <thread>
#include <tuple>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TCliProcess;
using test::TSimPty;

using test::DataFlash;
using test::TwoRegions;
using test::WaitForRequests;

class CliJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        test::TEnvPort::ClearAll();
        test::WriteJobFiles(Dir.Path);
    }
    int Cli(std::vector<std::string> args)
    {
        Last = std::make_unique<TCliProcess>(Dir.Path, std::move(args));
        return Last->Wait();
    }
    std::vector<json> Units()
    {
        EXPECT_EQ(Cli({"db", "export", "--db", (Dir.Path / "job.db").string(), "--json"}), 0) << Last->Err();
        return Last->JsonLines();
    }

    test::TScratchDir Dir;
    std::unique_ptr<TCliProcess> Last;
};

TEST_F(CliJobTest, AJobProgramsTheImageWithItsSerialAndVerifiesTheDataFlash)
{
    TSimPty sim(TwoRegions(), 1);
    ASSERT_EQ(Cli({"run", (Dir.Path / "job.toml").string(), "-p", "COM1", "--station", "S1"}), 0) << Last->Err();
    EXPECT_NE(Last->Out().find("PASS unit 1 COM1 serial 1000 "), std::string::npos) << Last->Out();

    std::vector<std::uint8_t> expected{0xDE, 0xAD, 0xBE, 0xEF};
    expected.resize(1024, 0xFF);
    std::copy_n(std::begin({0xE8, 0x03, 0x00, 0x00}), 4, expected.begin() + 0x100); // 1000
    EXPECT_EQ(sim.Sim.RegionContents(0, 0), expected);
    EXPECT_EQ(sim.Sim.RegionContents(0, 1), DataFlash());

    const auto units = Units();
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0]["serial"], 1000);
    EXPECT_EQ(units[0]["station"], "S1");
}

TEST_F(CliJobTest, ThreePortsLoopFiveUnitsEachAndAFailedUnitsSerialIsReused)
{
    std::vector<std::unique_ptr<TSimPty>> sims;
    for (int port = 1; port <= 3; ++port) {
        auto scenario = TwoRegions("detached");
        if (port == 2) // its second unit's write (one block: the image and serial share it) is refused
            scenario["faults"] = json::parse(R"([{"command": 162, "kind": "status", "status": 17, "skip": 1}])");
        sims.push_back(std::make_unique<TSimPty>(scenario, port));
    }
    TCliProcess run(Dir.Path, {"run", (Dir.Path / "job.toml").string(), "-p", "COM1", "-p", "COM2", "-p", "COM3",
                               "--loop", "--count", "5"});
    std::vector<std::thread> hands;
    for (auto& sim : sims)
        hands.emplace_back(test::PlaceBoards, std::ref(*sim), 5);
    for (auto& hand : hands)
        hand.join();
    EXPECT_EQ(run.Wait(), 3) << run.Err();
    EXPECT_NE(run.Out().find("FAIL unit "), std::string::npos) << run.Out();
    // Each port tells its connection once, not at each stage of each board.
    std::size_t connections = 0;
    for (std::size_t at = run.Out().find("Starting operation"); at != std::string::npos;
         at = run.Out().find("Starting operation", at + 1))
        ++connections;
    EXPECT_EQ(connections, 3u) << run.Out();
    // The summary: each port's bytes written, a block a unit, and the time its loop took.
    for (const char* row : {"COM1  ok +0 +2560", "COM2  FAILED +3 +2048", "COM3  ok +0 +2560"})
        EXPECT_TRUE(std::regex_search(run.Out(), std::regex(std::string(row) + " +(?!0\\.00)[0-9.]+\\b"))) << run.Out();

    std::vector<std::uint64_t> serials;
    const auto units = Units();
    for (const auto& unit : units)
        if (unit["result"] == "PASS")
            serials.push_back(unit["serial"]);
    EXPECT_EQ(units.size(), 15u);
    ASSERT_EQ(serials.size(), 14u);
    std::sort(serials.begin(), serials.end());
    for (std::size_t k = 0; k < serials.size(); ++k)
        EXPECT_EQ(serials[k], 1000 + k);
}

// Two stations share one database: their serial numbers never meet. A
// station killed while its unit writes leaves its number reserved; the next
// unit, once that process is gone, gets it.
TEST_F(CliJobTest, TwoProcessesShareTheDatabaseAndAKilledUnitsSerialComesBack)
{
    std::vector<std::unique_ptr<TSimPty>> sims;
    for (int port = 1; port <= 2; ++port) {
        sims.push_back(std::make_unique<TSimPty>(TwoRegions(), port));
        fs::create_directories(Dir.Path / ("s" + std::to_string(port)));
    }
    // Ten rounds of one unit on each station at once.
    for (int round = 0; round < 10; ++round) {
        std::vector<std::unique_ptr<TCliProcess>> stations;
        for (int port = 1; port <= 2; ++port)
            stations.push_back(std::make_unique<TCliProcess>(
                Dir.Path / ("s" + std::to_string(port)),
                std::vector<std::string>{"run", (Dir.Path / "job.toml").string(), "-p", "COM" + std::to_string(port)}));
        for (auto& station : stations)
            EXPECT_EQ(station->Wait(), 0) << station->Err();
    }
    std::vector<std::uint64_t> serials;
    for (const auto& unit : Units())
        serials.push_back(unit["serial"]);
    std::sort(serials.begin(), serials.end());
    ASSERT_EQ(serials.size(), 20u);
    EXPECT_EQ(std::adjacent_find(serials.begin(), serials.end()), serials.end()) << "no number given twice";
    EXPECT_EQ(serials.back(), 1019u);

    // The adapter never answers the first write: the unit is under way when killed.
    auto hanging = TwoRegions();
    hanging["faults"] = json::parse(R"([{"command": 162, "kind": "no_answer"}])");
    TSimPty third(hanging, 3);
    {
        TCliProcess killed(Dir.Path, {"run", (Dir.Path / "job.toml").string(), "-p", "COM3"});
        WaitForRequests(third, 0, {Cmd::WriteBlock});
        killed.Signal(SIGKILL);
        killed.Wait();
    }
    ASSERT_EQ(Cli({"run", (Dir.Path / "job.toml").string(), "-p", "COM1"}), 0) << Last->Err();
    EXPECT_NE(Last->Out().find("PASS unit 1 COM1 serial 1020 "), std::string::npos) << Last->Out();
}

// A failed unit's verdict is the run's output, on stdout as a passed one's:
// stderr does not tell it again.
TEST_F(CliJobTest, AFailedUnitsVerdictIsPrintedOnce)
{
    auto scenario = TwoRegions();
    scenario["devices"][0]["regions"][1]["contents"][0]["hex"] = "CA1B0002";
    TSimPty sim(scenario, 1);
    EXPECT_EQ(Cli({"run", (Dir.Path / "job.toml").string(), "-p", "COM1"}), 4);
    EXPECT_NE(Last->Out().find("FAIL unit 1 COM1 step 2 verify: "), std::string::npos) << Last->Out();
    EXPECT_EQ(Last->Err(), "");
}

// Each error names the job file's place, and no operation reaches the adapter.
TEST_F(CliJobTest, JobErrorsNameThePlaceAndStartNothing)
{
    TSimPty sim(TwoRegions(), 1);
    const std::string job = (Dir.Path / "job.toml").string();
    const std::string text = test::JobText();
    const std::vector<std::tuple<std::string, std::string, std::string, std::string>> cases{
        // what the job has, what it has instead, the command, the place named
        {"name = ", "voltag = \"3.3\"\nname = ", "run", "job.toml: voltag: "},
        {"data.bin", "none.bin", "run", "job.toml: step[2].image: "},
        {"u32le", "u24le", "job check", "job.toml: serial.format: "},
        {"base = 0", "base = 0x8000", "job check", "job.toml: step[1].image: "},
    };
    for (const auto& [from, to, command, place] : cases) {
        std::string changed = text;
        changed.replace(changed.find(from), from.size(), to);
        std::ofstream(job) << changed;
        std::vector<std::string> args{command, job, "-p", "COM1"};
        if (command == "job check")
            args = {"job", "check", job, "-p", "COM1"};
        EXPECT_EQ(Cli(args), 5) << to;
        EXPECT_NE(Last->Err().find(place), std::string::npos) << Last->Err();
    }
    EXPECT_EQ(sim.Sim.RequestCount(Cmd::StartOperation), 0);
}

} // namespace
} // namespace lindprog
