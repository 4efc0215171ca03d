// A backup's file names, its manifest read back as a job, and the SHA-256
// the manifest trusts (sha256sum is the oracle for longer inputs).

#include "core/production/Backup.h"

#include "core/base/Sha256.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace lindprog {
namespace {

std::string CommandOutput(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char chunk[256];
        while (std::fgets(chunk, sizeof chunk, pipe) != nullptr)
            text += chunk;
        pclose(pipe);
    }
    return text;
}

TEST(Backup, FileNamesAreSafeAndNeverMeet)
{
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases{
        {{"Flash", "Data"}, {"Flash.bin", "Data.bin"}},
        {{"a/b", "a:b", "c"}, {"a_b-0.bin", "a_b-1.bin", "c.bin"}},
        {{"FLASH", "flash"}, {"FLASH-0.bin", "flash-1.bin"}},
        {{"", ".cfg", "..", "manifest"}, {"region.bin", "region.cfg.bin", "region...bin", "manifest-3.bin"}},
        {{"x-1", "x", "x"}, {"x-1.bin", "x-1_.bin", "x-2.bin"}},
    };
    for (const auto& [names, files] : cases)
        EXPECT_EQ(BackupFileNames(names), files) << names.front();
}

TEST(Backup, Sha256MatchesSha256sum)
{
    EXPECT_EQ(Sha256Hex({}), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    test::TScratchDir dir;
    for (const std::size_t size : {3u, 55u, 56u, 64u, 119u, 100000u}) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t k = 0; k < size; ++k)
            bytes[k] = static_cast<std::uint8_t>(k * 131 + 7);
        const auto path = dir.Path / "bytes";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
        const std::string sum = CommandOutput("sha256sum " + path.string());
        EXPECT_EQ(sum.substr(0, 64), Sha256Hex(bytes)) << size;
    }
}

TEST(Backup, TheManifestIsAJobThatPutsEveryRegionBack)
{
    test::TScratchDir dir;
    TBackupInfo backup{"MPC \"5554\"\n", "Adapter", "1.18", "00ABCDEF", "2026-12-09T16:00:00.000Z", 3, {}};
    backup.Regions.push_back(
        {"Flash", 0, 16, 15, (dir.Path / "Flash.bin").string(), 0x1A2B3C4D, std::string(64, 'a'), {}});
    backup.Regions.push_back(
        {"Shadow", 2, 8, 3, (dir.Path / "Shadow.bin").string(), 0xFFFFFFFF, std::string(64, 'b'), {}});
    backup.Regions.push_back(
        {"Bad", 1, 8, 3, (dir.Path / "Bad.bin").string(), 0, std::string(64, 'c'), {{0, 4}, {6, 2}}});
    const std::string text = ManifestText(backup, 4);
    const TJob job = ParseJob(text, (dir.Path / ManifestName).string());

    EXPECT_EQ(job.Device.Index, std::optional<std::size_t>(4));
    ASSERT_EQ(job.Steps.size(), 2u) << text; // the region read with errors has none
    EXPECT_EQ(job.Steps[0].Operation, TOperation::Program);
    EXPECT_TRUE(job.Steps[0].Preverify);
    EXPECT_EQ(job.Steps[0].ExpectCrc, std::optional<std::uint32_t>(0x1A2B3C4D));
    EXPECT_EQ(job.Steps[0].Image, backup.Regions[0].File);
    EXPECT_EQ(job.Steps[1].Operation, TOperation::Verify);
    EXPECT_EQ(job.Steps[1].Region.Index, std::optional<std::size_t>(2));

    ASSERT_TRUE(job.Backup);
    EXPECT_EQ(job.Backup->Device, backup.Device);
    EXPECT_EQ(job.Backup->RegionCount, 3u);
    ASSERT_EQ(job.Backup->Regions.size(), 3u);
    const TBackupRegion& bad = job.Backup->Regions[2];
    EXPECT_EQ(std::tie(bad.Name, bad.Index, bad.Size, bad.Flags, bad.File, bad.Sha256, bad.FailedReads),
              std::tie(backup.Regions[2].Name, backup.Regions[2].Index, backup.Regions[2].Size, backup.Regions[2].Flags,
                       backup.Regions[2].File, backup.Regions[2].Sha256, backup.Regions[2].FailedReads));
    EXPECT_EQ(job.Backup->Regions[1].Crc, 0xFFFFFFFFu);
    EXPECT_EQ(UnrestoredRegions(*job.Backup).size(), 1u);
}

} // namespace
} // namespace lindprog
