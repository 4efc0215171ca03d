// lindprog-cli's work on images end to end against lindprog-sim: compare on
// the computer, programming only the blocks that hold data, a preverify that
// leaves an equal region alone, the log file, and an adapter found by its key.

#include "core/link/AdapterCommands.h"
#include "support/CliProcess.h"
#include "support/SimLink.h"
#include "support/SimPty.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct TCliRun {
    int Exit = -1;
    std::vector<json> Lines;
    std::string Err;
    json Event(const std::string& name) const
    {
        for (const json& line : Lines)
            if (line["event"] == name)
                return line;
        return {};
    }
};

class CliImageTest : public ::testing::Test {
protected:
    void SetUp() override { test::TEnvPort::ClearAll(); }

    TCliRun Cli(std::vector<std::string> args)
    {
        args.push_back("--json");
        test::TCliProcess cli(Dir.Path, std::move(args));
        const int exit = cli.Wait();
        return {exit, cli.JsonLines(), cli.Err()};
    }
    std::string File(const std::string& name, std::span<const std::uint8_t> bytes)
    {
        const fs::path path = Dir.Path / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    test::TScratchDir Dir;
};

TEST_F(CliImageTest, CompareNamesEveryDifferenceWithBothValues)
{
    test::TSimPty sim(test::BaseScenario(), 1);
    const auto region = sim.Sim.RegionContents(0, 0);
    auto threePlaces = region;
    for (const std::uint32_t at : {0u, 1u, 100u, 0x1FFFu})
        threePlaces[at] ^= 0x5A;
    const std::vector<std::uint8_t> erased(region.size(), 0xFF);
    auto data = erased;
    data[0x20] = data[0x21] = 0x12;
    struct TCase {
        std::vector<std::uint8_t> Flash, File;
        int Exit;
        json Ranges;
        std::uint64_t Count;
        std::string Hint;
    };
    const TCase cases[] = {
        {region, region, 0, json::array(), 0, ""},
        {region, threePlaces, 4,
         json::parse(R"([{"start": 0, "end": 2}, {"start": 100, "end": 101}, {"start": 8191, "end": 8192}])"), 4, ""},
        {erased, data, 4, json::parse(R"([{"start": 32, "end": 34}])"), 2, "looks not erased/not written"}};
    for (const TCase& c : cases) {
        sim.Sim.SetRegionContents(0, 0, c.Flash);
        const TCliRun run = Cli({"compare", File("expected.bin", c.File)});
        EXPECT_EQ(run.Exit, c.Exit) << run.Err;
        const json diff = run.Event("diff");
        EXPECT_EQ(diff["v"], 1);
        EXPECT_EQ(diff["ranges"], c.Ranges);
        EXPECT_EQ(diff["hint"], c.Hint);
        EXPECT_EQ(diff["count"], c.Count);
        ASSERT_EQ(diff["bytes"].size(), c.Count);
        for (const json& byte : diff["bytes"])
            EXPECT_EQ(byte["expected"].get<int>() * 256 + byte["read"].get<int>(),
                      c.File[byte["offset"]] * 256 + c.Flash[byte["offset"]]);
    }
}

TEST_F(CliImageTest, ProgrammingAnImageSendsOnlyItsBlocksAndProvesTheRestBlank)
{
    json scenario = test::BaseScenario();
    scenario["devices"][0]["regions"][0]["size"] = 512 * 1024;
    std::vector<std::uint8_t> firmware(123, 0x42);
    const std::string raw = File("firmware.bin", firmware);
    const std::string hex = (Dir.Path / "firmware.hex").string();
    ASSERT_EQ(std::system(("objcopy -I binary -O ihex " + raw + " " + hex).c_str()), 0);
    std::vector<std::uint8_t> expected(512 * 1024, 0xFF);
    std::copy(firmware.begin(), firmware.end(), expected.begin());

    struct TCase {
        std::vector<std::string> Args;
        int Writes; // of the region's 1024 blocks
    };
    const TCase cases[] = {{{"program", hex}, 1},
                           {{"write", hex}, 1},
                           {{"program", "--full", hex}, 1024},
                           {{"program", "--pad", "--sparse", raw}, 1}};
    for (const TCase& c : cases) {
        test::TSimPty sim(scenario, 1);
        const TCliRun run = Cli(c.Args);
        ASSERT_EQ(run.Exit, 0) << run.Err;
        EXPECT_EQ(sim.Sim.RegionContents(0, 0), expected) << c.Args[1];
        const json result = run.Event("result");
        const int writes = sim.Sim.RequestCount(Cmd::WriteBlock);
        const int blank = result.value("blocks_blank", 0);
        const bool program = c.Args[0] == "program";
        EXPECT_EQ(writes, c.Writes) << c.Args[1];
        EXPECT_EQ(result.value("blocks_written", writes), writes);
        EXPECT_EQ(result["bytes"], writes * 512) << "what was written, not what the last stage checked";
        EXPECT_EQ(writes + blank, 1024) << "every block is written or proven blank";
        EXPECT_EQ(sim.Sim.RequestCount(Cmd::VerifyBlock), program ? writes : 0);
        EXPECT_EQ(sim.Sim.RequestCount(Cmd::BlankCheckBlock), (program ? 1024 : 0) + blank);
    }
}

// A preverify is a stage of the plan, whichever front end composed it: a
// job's step and --preverify send the same requests and power off once, at
// the end, never between the verify and the erase.
TEST_F(CliImageTest, PreverifyLeavesAnEqualRegionAloneAndProgramsAnotherOne)
{
    test::TSimPty sim(test::BaseScenario(), 1);
    const auto region = sim.Sim.RegionContents(0, 0);
    auto changed = region;
    changed[0x123] ^= 0x01;
    const std::string job = (Dir.Path / "pre.toml").string();
    std::ofstream(job) << "name = \"pre\"\ndevice = 0\n[[step]]\nregion = 0\noperation = \"program\"\n"
                          "image = \"image.bin\"\npreverify = true\n";
    for (const bool viaJob : {false, true})
        for (const auto& [image, unchanged] : {std::pair{region, true}, std::pair{changed, false}}) {
            sim.Sim.SetRegionContents(0, 0, region);
            const std::size_t before = sim.Sim.RequestPayloads().size();
            const int writes = sim.Sim.RequestCount(Cmd::WriteBlock), erases = sim.Sim.RequestCount(Cmd::EraseStep);
            const std::string file = File("image.bin", image);
            const TCliRun run = viaJob ? Cli({"run", job, "--db", (Dir.Path / "pre.db").string()})
                                       : Cli({"program", "--preverify", file});
            ASSERT_EQ(run.Exit, 0) << run.Err;
            EXPECT_EQ(sim.Sim.RegionContents(0, 0), image);
            if (!viaJob) {
                EXPECT_EQ(run.Event("result")["message"] == "unchanged", unchanged);
            }
            EXPECT_EQ(sim.Sim.RequestCount(Cmd::WriteBlock) == writes, unchanged);
            EXPECT_EQ(sim.Sim.RequestCount(Cmd::EraseStep) == erases, unchanged);
            const auto requests = sim.Sim.RequestPayloads();
            std::vector<std::uint8_t> codes;
            for (std::size_t k = before; k < requests.size(); ++k)
                codes.push_back(requests[k][0]);
            EXPECT_EQ(std::count(codes.begin(), codes.end(), Cmd::PowerOff), 1) << "job " << viaJob;
            EXPECT_EQ(codes.back(), Cmd::PowerOff) << "job " << viaJob;
        }
}

TEST_F(CliImageTest, TheLogFileHoldsTheTraceWhateverTheScreenShows)
{
    test::TSimPty sim(test::BaseScenario(), 1);
    const fs::path log = Dir.Path / "run.log";
    for (int run = 0; run < 2; ++run)
        ASSERT_EQ(Cli({"erase", "-q", "--log", log.string()}).Exit, 0);
    std::ifstream in(log);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("COM1: erase: ok, exit 0"), text.rfind("COM1: erase: ok, exit 0")) << "appended: " << text;
    EXPECT_NE(text.find("Erase"), std::string::npos) << text;
    EXPECT_NE(text.find("< status 0"), std::string::npos) << "the link's trace: " << text;
}

TEST_F(CliImageTest, AnAdapterIsFoundByItsKey)
{
    json other = test::BaseScenario();
    other["key"] = 0x1A2B3C4D;
    other["devices"][0]["regions"][0]["fill"] = 0x5A;
    test::TSimPty first(test::BaseScenario(), 1);
    test::TSimPty second(other, 2);
    const std::string pattern = (Dir.Path / "flash.{key}.bin").string();
    ASSERT_EQ(Cli({"read", "-p", "key:1a2b3c4d", pattern}).Exit, 0);
    std::ifstream in(Dir.Path / "flash.1A2B3C4D.bin", std::ios::binary);
    EXPECT_EQ(std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              second.Sim.RegionContents(0, 0));
    EXPECT_EQ(first.Sim.RequestCount(Cmd::ReadBlock), 0);

    const TCliRun missing = Cli({"read", "-p", "key:12345678", pattern});
    EXPECT_EQ(missing.Exit, 2);
    EXPECT_NE(missing.Event("result")["message"].get<std::string>().find("COM1 key 00ABCDEF"), std::string::npos);
}

} // namespace
} // namespace lindprog
