#include "core/buffer/Buffer.h"

#include "core/buffer/DumpData.h"
#include "core/buffer/DumpEditor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::size_t ChangedCount(const TDumpData& data)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < data.DataSize(); ++i)
        count += data.IsChanged(static_cast<std::int64_t>(i)) ? 1 : 0;
    return count;
}

TEST(Buffer, ResizeGivesZeroedBufferShownUnchanged)
{
    TBuffer buffer;
    TDumpEditor view;
    view.SetMetrics(8, 12, 18 * 12);
    EXPECT_EQ(buffer.SizeCaption(), "n/a");
    ResizeBuffer(buffer, view, 0x1000);
    buffer.Bytes()[5] = 0x77;
    ResizeBuffer(buffer, view, 0x80000);

    EXPECT_EQ(buffer.Size(), 0x80000u);
    EXPECT_EQ(buffer.SizeCaption(), "0x80000");
    EXPECT_TRUE(std::ranges::all_of(buffer.Bytes(), [](std::uint8_t b) { return b == 0; }));
    ASSERT_EQ(view.Data().DataSize(), 0x80000u);
    EXPECT_EQ(view.Data().Bytes().data(), buffer.Bytes().data());
    EXPECT_EQ(ChangedCount(view.Data()), 0u);
    EXPECT_EQ(view.ScrollPosition(), 0);
    const TDumpPopupState popup = view.PopupState();
    EXPECT_FALSE(popup.RevertChanges);
    EXPECT_FALSE(popup.UpdateChanges);
}

// A region too large for the memory left: the allocation fails and the
// previous buffer stays in place, shown by the view as before.
TEST(Buffer, ResizeThatCannotBeHadKeepsThePreviousBuffer)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#elif defined(_WIN32)
    GTEST_SKIP() << "an address-space limit for the process is POSIX's (RLIMIT_AS)";
#else
    TBuffer buffer;
    TDumpEditor view;
    ASSERT_TRUE(ResizeBuffer(buffer, view, 0x1000));
    buffer.Bytes()[5] = 0x77;
    rlimit old{};
    ::getrlimit(RLIMIT_AS, &old);
    rlimit tight = old;
    tight.rlim_cur = 1024ull * 1024 * 1024; // this process, far below the 4 GiB asked for
    ASSERT_EQ(::setrlimit(RLIMIT_AS, &tight), 0);
    const bool resized = ResizeBuffer(buffer, view, 0xFFFFFFFFu);
    ::setrlimit(RLIMIT_AS, &old);
    EXPECT_FALSE(resized);
    ASSERT_EQ(buffer.Size(), 0x1000u);
    EXPECT_EQ(buffer.Bytes()[5], 0x77);
    EXPECT_EQ(view.Data().Bytes().data(), buffer.Bytes().data());
#endif
}

TEST(Buffer, SizeZeroGivesNoData)
{
    TBuffer buffer;
    TDumpEditor view;
    ResizeBuffer(buffer, view, 0x40);
    ResizeBuffer(buffer, view, 0);
    EXPECT_EQ(buffer.SizeCaption(), "0x0");
    EXPECT_FALSE(view.Data().HasData());
    EXPECT_FALSE(view.ShowCursor());
    // The whole-buffer commands work on zero words.
    SwapBytes(buffer.Bytes());
    FillCounting(buffer.Bytes());
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(Buffer, SwapBytesReversesWholeWordsOnly)
{
    Bytes bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
    SwapBytes(bytes);
    EXPECT_EQ(bytes, (Bytes{0x44, 0x33, 0x22, 0x11, 0x55, 0x66}));
    SwapBytes(bytes);
    EXPECT_EQ(bytes, (Bytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}));
    EXPECT_EQ(Swap16(0x1234), 0x3412);
    EXPECT_EQ(Swap32(0x11223344), 0x44332211u);
}

TEST(Buffer, FillWritesACountingPattern)
{
    Bytes bytes(10, 0xEE);
    bytes[8] = 0xAB;
    FillCounting(bytes);
    EXPECT_EQ(bytes, (Bytes{0, 0, 0, 0, 1, 0, 0, 0, 0xAB, 0xEE}));

    Bytes large(4 * 0x10001 + 3, 0xEE);
    FillCounting(large);
    EXPECT_EQ((Bytes(large.begin() + 4 * 0x10000, large.end())), (Bytes{0, 0, 1, 0, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ((Bytes(large.begin() + 4 * 0x1234, large.begin() + 4 * 0x1235)), (Bytes{0x34, 0x12, 0, 0}));
}

TEST(FillValue, LenientHexReading)
{
    EXPECT_EQ(ParseFillValue("a5"), 0xA5);
    EXPECT_EQ(ParseFillValue("1ff"), 0xFF);
    EXPECT_EQ(ParseFillValue("100"), 0x00);
    EXPECT_EQ(ParseFillValue("7"), 0x07);
    EXPECT_EQ(ParseFillValue("0"), 0x00);
    EXPECT_EQ(ParseFillValue("DEADBE42"), 0x42);
    EXPECT_EQ(ParseFillValue("0000000012345678"), 0x78); // leading zeros are not significant
    for (const char* bad : {"", "zz", "0x10", "$10", "-1", "+1", " 1", "1 ", "123456789", "1g"})
        EXPECT_EQ(ParseFillValue(bad), 0xFF) << '"' << bad << '"';
}

class DumpDataTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Data.SetData(Block);
        for (std::size_t i = 0; i < Block.size(); ++i)
            Block[i] = static_cast<std::uint8_t>(0xA0 + i);
        Data.UpdateChanges();
    }

    Bytes Block = Bytes(16);
    TDumpData Data;
};

TEST_F(DumpDataTest, SetDataClearsAndAccepts)
{
    Bytes other(8, 0x5C);
    EXPECT_TRUE(Data.SetData(other));
    EXPECT_EQ(other, Bytes(8, 0));
    EXPECT_EQ(Data.DataSize(), 8u);
    EXPECT_FALSE(Data.Modified());
    EXPECT_EQ(ChangedCount(Data), 0u);
    EXPECT_FALSE(Data.SetData({}));
    EXPECT_FALSE(Data.HasData());
    EXPECT_FALSE(Data.IsChanged(0));
}

TEST_F(DumpDataTest, FillSelectedTouchesNothingOutsideTheData)
{
    // A selection left from a larger buffer, or dragged above the surface.
    EXPECT_TRUE(Data.FillSelected(-3, 40, "11"));
    EXPECT_EQ(Block, Bytes(16, 0x11));
    Data.UpdateChanges();
    EXPECT_FALSE(Data.FillSelected(16, 40, "22"));
    EXPECT_FALSE(Data.FillSelected(-9, -2, "22"));
    EXPECT_EQ(Block, Bytes(16, 0x11));
    EXPECT_FALSE(Data.Modified());
    EXPECT_EQ(Data.FillValueText(), "22");
}

TEST_F(DumpDataTest, ChangedIsAComparisonOfValues)
{
    EXPECT_TRUE(Data.SetByte(3, 0x00));
    EXPECT_TRUE(Data.IsChanged(3));
    EXPECT_TRUE(Data.SetByte(3, 0xA3));
    EXPECT_FALSE(Data.IsChanged(3));
    EXPECT_EQ(ChangedCount(Data), 0u);
    EXPECT_TRUE(Data.Modified());
    EXPECT_FALSE(Data.SetByte(16, 0));
    EXPECT_FALSE(Data.SetByte(-1, 0));
}

TEST_F(DumpDataTest, RevertRestoresTheLastAcceptance)
{
    const Bytes accepted = Block;
    Data.SetByte(0, 0x00);
    Data.FillSelected(8, 11, "0");
    Data.RevertChanges();
    EXPECT_EQ(Block, accepted);
    EXPECT_FALSE(Data.Modified());

    // A save accepts the edits, so a later revert restores nothing.
    Data.SetByte(2, 0x42);
    Data.UpdateChanges();
    Data.RevertChanges();
    EXPECT_EQ(Block[2], 0x42);
    EXPECT_EQ(ChangedCount(Data), 0u);
}

TEST_F(DumpDataTest, ClearZeroesAndAccepts)
{
    Data.SetByte(1, 0x99);
    Data.Clear();
    EXPECT_EQ(Block, Bytes(16, 0));
    EXPECT_EQ(ChangedCount(Data), 0u);
    EXPECT_FALSE(Data.Modified());
}

} // namespace
} // namespace lindprog
