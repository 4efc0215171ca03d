#include "core/production/JobUnit.h"

#include "core/base/Stm32Crc.h"
#include "core/production/SqliteUnitDatabase.h"
#include "support/OpsHarness.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lindprog {
namespace {

using test::TOpsRig;
using test::TScratchDir;

// The code flash takes two write blocks per unit; the third one, the second
// unit's first, is refused.
nlohmann::json RefusesSecondUnitsWrite()
{
    auto scenario = test::BaseScenario();
    scenario["devices"][0]["regions"] = nlohmann::json::parse(R"([{"name": "Code", "flags": 15, "size": 1024}])");
    scenario["faults"] =
        nlohmann::json::parse(R"([{"command": 162, "kind": "status", "status": 17, "skip": 1, "times": 1}])");
    return scenario;
}

struct TUnitRig {
    explicit TUnitRig(const std::string& jobText, const nlohmann::json& scenario) : Rig(scenario)
    {
        std::ofstream(Dir.Path / "fw.hex") << ":04000000DEADBEEFC4\n:00000001FF\n";
        std::ofstream(Dir.Path / "job.toml") << jobText;
        Job = LoadJob((Dir.Path / "job.toml").string());
        Rig.Connect();
        Resolved = ResolveJob(Job, ReadJobImages(Job), ReadJobCatalogue(Job, Rig.Session));
    }

    TJobUnit Unit(TUnitDatabase& database)
    {
        return TJobUnit(Resolved, Rig.Runner, &database, {"line 1", "COM1", "", "", ""}, "hash",
                        [](const TStepResult& step) { return step.Status; });
    }

    TScratchDir Dir;
    TOpsRig Rig;
    TJob Job;
    TResolvedJob Resolved;
};

TEST(JobUnit, AFailedUnitsSerialNumberGoesToTheNextUnit)
{
    TUnitRig rig("name = \"board\"\n[[step]]\nregion = \"Code\"\noperation = \"program\"\nimage = \"fw.hex\"\n"
                 "[serial]\nregion = \"Code\"\noffset = 8\nformat = \"ascii-dec:6\"\nstart = 100\n",
                 RefusesSecondUnitsWrite());
    TSqliteUnitDatabase database((rig.Dir.Path / "units.db").string());
    TJobUnit unit = rig.Unit(database);
    std::vector<TUnitOutcome> outcomes;
    for (int k = 0; k < 3; ++k)
        outcomes.push_back(unit.Run());

    EXPECT_EQ(outcomes[0].VerdictLine(1).rfind("PASS unit 1 COM1 serial 100 ", 0), 0u);
    EXPECT_EQ(outcomes[1].VerdictLine(2).rfind(
                  "FAIL unit 2 COM1 step 1 program: Write failed at offset 0x00000000 (Device write error)", 0),
              0u)
        << outcomes[1].VerdictLine(2);
    EXPECT_EQ(outcomes[1].ExitCode, 17);
    EXPECT_EQ(outcomes[2].Serial, 101u);
    const auto flash = rig.Rig.Link.Sim.RegionContents(0, 0);
    EXPECT_EQ(std::string(flash.begin() + 8, flash.begin() + 14), "000101");
    const auto units = database.Units();
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(units[1].FailedStep, "step 1 program");
    EXPECT_EQ(units[2].ImageCrc, CrcUpdateBytes(CrcStart, flash));
}

TEST(JobUnit, PreverifyLeavesAnEqualRegionAlone)
{
    TUnitRig rig("name = \"board\"\n[[step]]\nregion = 0\noperation = \"program\"\nimage = \"fw.hex\"\n"
                 "preverify = true\n",
                 RefusesSecondUnitsWrite());
    std::vector<std::uint8_t> image(1024, 0xFF);
    image[0] = 0xDE, image[1] = 0xAD, image[2] = 0xBE, image[3] = 0xEF;
    rig.Rig.Link.Sim.SetRegionContents(0, 0, image);
    TSqliteUnitDatabase database((rig.Dir.Path / "units.db").string());
    const TUnitOutcome outcome = rig.Unit(database).Run();

    EXPECT_TRUE(outcome.Passed);
    EXPECT_EQ(outcome.Record.Steps.at(0).Result, "unchanged");
    EXPECT_EQ(rig.Rig.Count(Cmd::EraseStep), 0);
    EXPECT_EQ(rig.Rig.Count(Cmd::WriteBlock), 0);
}

} // namespace
} // namespace lindprog
