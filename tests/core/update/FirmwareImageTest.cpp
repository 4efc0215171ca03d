#include "core/update/FirmwareImage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using test::TScratchDir;

class FirmwareImageTest : public ::testing::Test {
protected:
    TScratchDir Dir;

    // A file of `size` bytes whose every byte tells its offset apart from
    // its neighbours' and from other records'.
    fs::path MakeFile(std::size_t size)
    {
        const fs::path path = Dir.Path / ("image-" + std::to_string(size) + ".fwu");
        std::ofstream out(path, std::ios::binary);
        for (std::size_t offset = 0; offset < size; ++offset)
            out.put(static_cast<char>((offset * 7 + offset / 2056) & 0xFF));
        return path;
    }
};

TEST_F(FirmwareImageTest, SizesThatAreWholeRecordsFromOneTo127AreAccepted)
{
    const std::pair<std::size_t, int> accepted[] = {{2056, 1}, {4112, 2}, {261112, 127}};
    for (const auto& [size, pages] : accepted) {
        const TFirmwareImage image = TFirmwareImage::Load(MakeFile(size));
        EXPECT_EQ(image.Size(), size);
        EXPECT_TRUE(image.IsValid()) << size;
        EXPECT_EQ(image.PageCount(), pages) << size;
    }
}

TEST_F(FirmwareImageTest, OtherSizesAreRefused)
{
    for (const std::size_t size : {0u, 1u, 2055u, 2057u, 4113u, 261113u})
        EXPECT_FALSE(TFirmwareImage::Load(MakeFile(size)).IsValid()) << size;
}

TEST_F(FirmwareImageTest, LongFilesReadAsTheLimitAndAreRefused)
{
    // 128 records, one past the limit, and sizes beyond: all read as 0x40000
    // bytes, which is no whole number of records.
    for (const std::size_t size : {263168u, 262144u, 262145u, 400000u}) {
        const TFirmwareImage image = TFirmwareImage::Load(MakeFile(size));
        EXPECT_EQ(image.Size(), std::min<std::size_t>(size, TFirmwareImage::ReadLimit)) << size;
        EXPECT_FALSE(image.IsValid()) << size;
    }
    EXPECT_FALSE(TFirmwareImage::IsValidSize(263168)) << "128 records are one too many";
}

TEST_F(FirmwareImageTest, RecordsAreTheFileBytesUnchanged)
{
    const fs::path path = MakeFile(3 * 2056);
    const TFirmwareImage image = TFirmwareImage::Load(path);
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(image.PageCount(), 3);
    for (int page = 0; page < 3; ++page) {
        const auto record = image.Page(page);
        ASSERT_EQ(record.size(), 2056u);
        EXPECT_TRUE(std::equal(record.begin(), record.end(), file.begin() + page * 2056)) << page;
    }
    EXPECT_TRUE(image.Page(3).empty());
    EXPECT_TRUE(image.Page(-1).empty());
}

TEST_F(FirmwareImageTest, MissingFileThrowsWithNameAndReason)
{
    const fs::path path = Dir.Path / "missing.fwu";
    try {
        TFirmwareImage::Load(path);
        FAIL() << "no error";
    } catch (const TFirmwareFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + path.string() + "\". No such file or directory");
    }
}

TEST_F(FirmwareImageTest, AReadThatFailsCountsAsNothingRead)
{
#ifdef _WIN32
    GTEST_SKIP() << "a folder does not open as a file on Windows, so no read of one can fail";
#endif
    // A folder opens for reading, but reading it fails.
    const TFirmwareImage image = TFirmwareImage::Load(Dir.Path);
    EXPECT_EQ(image.Size(), 0u);
    EXPECT_FALSE(image.IsValid());
}

} // namespace
} // namespace lindprog
