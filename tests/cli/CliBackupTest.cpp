// lindprog-cli backup and restore against a simulator: what the flash holds
// afterwards, and which requests reached the adapter.

#include "core/link/AdapterCommands.h"
#include "support/CliProcess.h"
#include "support/JobFixture.h"
#include "support/SimLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using test::TCliProcess;
using test::TSimPty;

std::vector<std::uint8_t> ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class CliBackupTest : public ::testing::Test {
protected:
    void SetUp() override { test::TEnvPort::ClearAll(); }
    int Cli(std::vector<std::string> args)
    {
        Last = std::make_unique<TCliProcess>(Dir.Path, std::move(args));
        return Last->Wait();
    }
    std::string Backup() const { return (Dir.Path / "backup").string(); }
    std::string Manifest() const { return (Dir.Path / "backup" / "manifest.toml").string(); }
    // The regions a write or an erase started on, from request `from` on.
    static std::set<int> ChangedRegions(const TSimPty& sim, std::size_t from)
    {
        std::set<int> regions;
        const auto payloads = sim.Sim.RequestPayloads();
        for (std::size_t k = from; k < payloads.size(); ++k)
            if (payloads[k][0] == Cmd::StartOperation &&
                (payloads[k][3] == static_cast<std::uint8_t>(TOperation::Write) ||
                 payloads[k][3] == static_cast<std::uint8_t>(TOperation::Erase)))
                regions.insert(payloads[k][2]);
        return regions;
    }

    test::TScratchDir Dir;
    std::unique_ptr<TCliProcess> Last;
};

TEST_F(CliBackupTest, RestorePutsBackWhatChangedAndOnlyThat)
{
    TSimPty sim(test::TwoRegions(), 1);
    ASSERT_EQ(Cli({"backup", "-p", "COM1", Backup()}), 0) << Last->Err();
    const auto code = sim.Sim.RegionContents(0, 0);
    const auto data = sim.Sim.RegionContents(0, 1);
    EXPECT_TRUE(fs::exists(Manifest()));
    EXPECT_EQ(ReadFile(Dir.Path / "backup" / "Data.bin"), data);

    ASSERT_TRUE(sim.Sim.SetRegionContents(0, 0, std::vector<std::uint8_t>{1, 2, 3}, 0x10));
    std::size_t from = sim.Sim.RequestTotal();
    ASSERT_EQ(Cli({"restore", Manifest(), "-p", "COM1", "--yes"}), 0) << Last->Err();
    EXPECT_EQ(sim.Sim.RegionContents(0, 0), code);
    EXPECT_EQ(ChangedRegions(sim, from), std::set<int>{0}) << "the unchanged Data region is left alone";

    ASSERT_TRUE(sim.Sim.SetRegionContents(0, 0, std::vector<std::uint8_t>{9}, 0));
    ASSERT_TRUE(sim.Sim.SetRegionContents(0, 1, std::vector<std::uint8_t>{9}, 0));
    from = sim.Sim.RequestTotal();
    ASSERT_EQ(Cli({"restore", Manifest(), "-p", "COM1", "--yes"}), 0) << Last->Err();
    EXPECT_EQ(sim.Sim.RegionContents(0, 0), code);
    EXPECT_EQ(sim.Sim.RegionContents(0, 1), data);
    EXPECT_EQ(ChangedRegions(sim, from), (std::set<int>{0, 1}));
}

TEST_F(CliBackupTest, ADamagedFileOrAnotherDeviceIsRefusedBeforeAnythingIsSent)
{
    {
        TSimPty sim(test::TwoRegions(), 1);
        ASSERT_EQ(Cli({"backup", "-p", "COM1", Backup()}), 0) << Last->Err();
        EXPECT_EQ(Cli({"backup", "-p", "COM1", Backup()}), 5) << "a second backup never overwrites the first";
    }
    auto other = test::TwoRegions();
    other["devices"][0]["regions"][1]["size"] = 512;
    TSimPty sim(other, 1);
    EXPECT_EQ(Cli({"restore", Manifest(), "-p", "COM1", "--yes"}), 1);
    EXPECT_NE(Last->Err().find("region 1 of device 'TESTCHIP' is 'Data' of 0x200 bytes"), std::string::npos)
        << Last->Err();
    const auto payloads = sim.Sim.RequestPayloads();
    EXPECT_TRUE(std::none_of(payloads.begin(), payloads.end(),
                             [](const auto& payload) { return payload[0] == Cmd::StartOperation; }));

    auto file = ReadFile(Dir.Path / "backup" / "Code.bin");
    file[7] ^= 0x01;
    std::ofstream(Dir.Path / "backup" / "Code.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    const std::size_t before = sim.Sim.RequestTotal();
    EXPECT_EQ(Cli({"restore", Manifest(), "-p", "COM1", "--yes"}), 5);
    EXPECT_NE(Last->Err().find("Code.bin is not what the backup saved"), std::string::npos) << Last->Err();
    EXPECT_EQ(sim.Sim.RequestTotal(), before);
}

TEST_F(CliBackupTest, UnreadableBlocksFailTheBackupUnlessIgnoredThenTheRegionIsNotRestored)
{
    auto scenario = test::TwoRegions();
    scenario["devices"][0]["regions"][1]["read_errors"] = nlohmann::json::parse(R"([{"offset": 16, "times": -1}])");
    TSimPty sim(scenario, 1);
    EXPECT_EQ(Cli({"backup", "-p", "COM1", Backup()}), 3);
    EXPECT_FALSE(fs::exists(Manifest()));
    EXPECT_FALSE(fs::exists(Dir.Path / "backup" / "Code.bin")) << "half a backup is removed";

    ASSERT_EQ(Cli({"backup", "-p", "COM1", "--ignore-read-errors", Backup()}), 0) << Last->Err();
    ASSERT_TRUE(sim.Sim.SetRegionContents(0, 1, std::vector<std::uint8_t>{9}, 0));
    const std::size_t from = sim.Sim.RequestTotal();
    ASSERT_EQ(Cli({"restore", Manifest(), "-p", "COM1", "--yes"}), 0) << Last->Err();
    EXPECT_NE(Last->Err().find("region 'Data' is not restored"), std::string::npos) << Last->Err();
    EXPECT_TRUE(ChangedRegions(sim, from).empty());
}

} // namespace
} // namespace lindprog
