#include "core/buffer/StringFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string_view>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Entries = std::vector<TStringEntry>;

Bytes Text(std::string_view text)
{
    return Bytes(text.begin(), text.end());
}

// Every run, found the slow way: each byte is looked at on its own.
Entries ReferenceScan(const Bytes& data, std::size_t minLength)
{
    Entries found;
    std::string run;
    std::int64_t start = 0;
    for (std::size_t i = 0; i <= data.size(); ++i) {
        const std::uint8_t c = i < data.size() ? data[i] : 0;
        const bool member = c == ' ' || c == '(' || c == ')' || c == '-' || c == '/' || (c >= '0' && c <= '9') ||
                            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (member && i < data.size()) {
            if (run.empty())
                start = static_cast<std::int64_t>(i);
            run += static_cast<char>(c);
        } else {
            if (!run.empty() && run.size() >= minLength)
                found.push_back({run, start});
            run.clear();
        }
    }
    return found;
}

TEST(StringFinder, CharacterSetHoldsSixtySevenValues)
{
    int members = 0;
    for (int c = 0; c < 256; ++c)
        members += IsStringChar(static_cast<std::uint8_t>(c)) ? 1 : 0;
    EXPECT_EQ(members, 67);
    for (const char c : std::string_view(" ()-/09AZaz"))
        EXPECT_TRUE(IsStringChar(static_cast<std::uint8_t>(c))) << c;
    for (const char c : std::string_view(".,_:@[`{~!\"#*+=?\\|'<>;\t\n"))
        EXPECT_FALSE(IsStringChar(static_cast<std::uint8_t>(c))) << c;
    for (int c = 0x7B; c < 256; ++c)
        EXPECT_FALSE(IsStringChar(static_cast<std::uint8_t>(c))) << c;
    EXPECT_FALSE(IsStringChar(0x00));
}

TEST(StringFinder, ErasedImageAndNoDataGiveNothing)
{
    EXPECT_TRUE(FindStrings(Bytes(0x10000, 0xFF), 4).empty());
    EXPECT_TRUE(FindStrings({}, 4).empty());
    EXPECT_TRUE(FindStrings({}, 0).empty());
}

TEST(StringFinder, HelloWorldAtItsOffset)
{
    Bytes image(0x4000, 0xFF);
    const Bytes text = Text("Hello World");
    std::ranges::copy(text, image.begin() + 0x1A40);
    image[0x1A40 + text.size()] = 0x00;
    EXPECT_EQ(FindStrings(image, 4), (Entries{{"Hello World", 0x1A40}}));
}

TEST(StringFinder, PunctuationOutsideTheSetSplitsRuns)
{
    const Bytes name = Text("key_name.txt");
    EXPECT_EQ(FindStrings(name, 4), (Entries{{"name", 4}}));
    EXPECT_EQ(FindStrings(name, 3), (Entries{{"key", 0}, {"name", 4}, {"txt", 9}}));
    EXPECT_EQ(FindStrings(Text("(ID) 12-34/5"), 4), (Entries{{"(ID) 12-34/5", 0}}));
    EXPECT_EQ(FindStrings(Text("a:b,c"), 1), (Entries{{"a", 0}, {"b", 2}, {"c", 4}}));
}

TEST(StringFinder, RunReachingTheEndIsListedWhenLongEnough)
{
    Bytes image(32, 0x00);
    const Bytes tail = Text("TAIL");
    std::ranges::copy(tail, image.end() - 4);
    EXPECT_EQ(FindStrings(image, 4), (Entries{{"TAIL", 28}}));
    EXPECT_TRUE(FindStrings(image, 5).empty());
    EXPECT_EQ(FindStrings(Text("whole"), 5), (Entries{{"whole", 0}}));
}

TEST(StringFinder, MinimumChoosesTheRunsAndZeroListsEveryRun)
{
    const Bytes data = Text("ab.cdefghijkl.m.nopq");
    EXPECT_EQ(FindStrings(data, 2), (Entries{{"ab", 0}, {"cdefghijkl", 3}, {"nopq", 16}}));
    EXPECT_EQ(FindStrings(data, 10), (Entries{{"cdefghijkl", 3}}));
    EXPECT_TRUE(FindStrings(data, 11).empty());
    const Entries every = {{"ab", 0}, {"cdefghijkl", 3}, {"m", 14}, {"nopq", 16}};
    EXPECT_EQ(FindStrings(data, 1), every);
    EXPECT_EQ(FindStrings(data, 0), every);
    EXPECT_EQ(FindStrings(data, -7), every);
}

TEST(StringFinder, RunsAreMaximalAndMatchAByteByByteScan)
{
    std::mt19937 random(2024);
    const std::string_view pool = "aZ9 (-/._:\xff\x80\xc1\xe1";
    const auto byte = [&](int kind) {
        switch (kind) {
        case 0: return static_cast<std::uint8_t>(random() % 256);
        case 1: return static_cast<std::uint8_t>(pool[random() % pool.size()]);
        default: return static_cast<std::uint8_t>(random() % 50 ? 'q' : random() % 256); // long runs
        }
    };
    for (int round = 0; round < 300; ++round) {
        Bytes data(random() % 700);
        for (auto& b : data)
            b = byte(round % 3);
        for (const int minLength : {1, 2, 4, 9, 64, 100}) {
            const Entries found = FindStrings(data, minLength);
            ASSERT_EQ(found, ReferenceScan(data, static_cast<std::size_t>(minLength))) << round << " " << minLength;
            for (std::size_t i = 1; i < found.size(); ++i)
                EXPECT_GT(found[i].Offset, found[i - 1].Offset + static_cast<std::int64_t>(found[i - 1].Text.size()));
        }
    }
}

TEST(StringFinder, RunsAcrossAndAtTheEdgesOf64ByteBlocks)
{
    for (const std::size_t size : {63u, 64u, 65u, 127u, 128u, 129u, 200u}) {
        for (const std::size_t from : {0u, 1u, 60u, 63u, 64u, 65u}) {
            for (const std::size_t to : {from + 1, from + 4, from + 70, size}) {
                if (from >= size || to > size || to <= from)
                    continue;
                Bytes data(size, 0xFF);
                std::fill(data.begin() + static_cast<std::ptrdiff_t>(from),
                          data.begin() + static_cast<std::ptrdiff_t>(to), 'k');
                const Entries expected = {{std::string(to - from, 'k'), static_cast<std::int64_t>(from)}};
                EXPECT_EQ(FindStrings(data, 1), expected) << size << " " << from << " " << to;
            }
        }
    }
    Bytes all(192, 'x');
    all[64] = '.';
    EXPECT_EQ(FindStrings(all, 4), (Entries{{std::string(64, 'x'), 0}, {std::string(127, 'x'), 65}}));
}

TEST(StringFinder, TypedMinimumIsReadLeniently)
{
    const std::pair<std::string_view, std::int32_t> cases[] = {
        {"2", 2},
        {"10", 10},
        {"abc", 4},
        {"", 4},
        {"   7", 7},
        {"+5", 5},
        {"-3", -3},
        {"$10", 16},
        {"0x1A", 26},
        {"0X1a", 26},
        {"-$10", -16},
        {"7 ", 4},
        {"0x", 4},
        {"$", 4},
        {"-", 4},
        {"1.5", 4},
        {"x10", 4},
        {"- 5", 4},
        {"0012", 12},
        {"\t3", 4},
        {"2147483647", 2147483647},
        {"2147483648", 4},
        {"-2147483648", -2147483647 - 1},
        {"$7FFFFFFF", 2147483647},
        {"$80000000", 4},
        {"99999999999999999999", 4},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ReadMinStringLength(text), value) << '"' << text << '"';
}

TEST(StringFinder, OfferedMinimumIsTheLastButNeverBelowFour)
{
    EXPECT_EQ(OfferedMinStringLength(0), 4);
    EXPECT_EQ(OfferedMinStringLength(ReadMinStringLength("2")), 4);
    EXPECT_EQ(OfferedMinStringLength(ReadMinStringLength("10")), 10);
    EXPECT_EQ(OfferedMinStringLength(ReadMinStringLength("abc")), 4);
    EXPECT_EQ(OfferedMinStringLength(-20), 4);
    EXPECT_EQ(OfferedMinStringLength(4), 4);
    EXPECT_EQ(OfferedMinStringLength(5), 5);
}

TEST(StringFinder, ColumnOrdersAreAscending)
{
    const TStringEntry apple{"apple", 0x300};
    const TStringEntry banana{"Banana", 0x10};
    const TStringEntry cherry{"CHERRY pie", 0x20};
    const TStringEntry apples{"APPLES", 0x400};
    using enum TStringColumn;
    EXPECT_TRUE(EntryLess(banana, cherry, Address));
    EXPECT_FALSE(EntryLess(apple, banana, Address));
    EXPECT_TRUE(EntryLess(apple, apples, Len));
    EXPECT_FALSE(EntryLess(apples, banana, Len)) << "equal lengths";
    EXPECT_FALSE(EntryLess(banana, apples, Len));
    // Without regard to case: "apple" < "Banana" although 'B' < 'a'.
    EXPECT_TRUE(EntryLess(apple, banana, String));
    EXPECT_TRUE(EntryLess(banana, cherry, String));
    EXPECT_TRUE(EntryLess(apple, apples, String)) << "a prefix comes first";
    EXPECT_FALSE(EntryLess({"abc", 0}, {"ABC", 1}, String));
    EXPECT_FALSE(EntryLess({"ABC", 0}, {"abc", 1}, String));
    // Otherwise by character code: space and digits before letters.
    EXPECT_TRUE(EntryLess({"a b", 0}, {"a1", 0}, String));
    EXPECT_TRUE(EntryLess({"Z9", 0}, {"za", 0}, String));
}

} // namespace
} // namespace lindprog
