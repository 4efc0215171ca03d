#include "core/buffer/ByteSearch.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace lindprog {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ByteSearch, PatternsAreHexPairsOrText)
{
    struct TCase {
        std::u32string Text;
        TPatternKind Kind;
        Bytes Expected;
        std::string ErrorPart; // empty: valid
    };
    const TCase cases[] = {
        {U"DE AD be ef", TPatternKind::Hex, {0xDE, 0xAD, 0xBE, 0xEF}, ""},
        {U" deadbeef\t0a ", TPatternKind::Hex, {0xDE, 0xAD, 0xBE, 0xEF, 0x0A}, ""},
        {U"DE ADB", TPatternKind::Hex, {}, "\"ADB\" has an odd number of hex digits"},
        {U"DE AG", TPatternKind::Hex, {}, "Character 5 is not a hex digit"},
        {U"0xDE", TPatternKind::Hex, {}, "Character 2 is not a hex digit"},
        {U" \"Hi \" ", TPatternKind::Hex, {'H', 'i', ' '}, ""},
        {U"\"Hi", TPatternKind::Hex, {}, "no closing double quote"},
        {U"\"\"", TPatternKind::Hex, {}, "Enter the bytes"},
        {U"  ", TPatternKind::Hex, {}, "Enter the bytes"},
        {U"\"A\" 1", TPatternKind::Text, {'"', 'A', '"', ' ', '1'}, ""},
        {U"\u00E9\u20AC?", TPatternKind::Text, {0xE9, 0x80, '?'}, ""},
        {U"\u0436", TPatternKind::Text, {}, "Windows-1252"},
    };
    for (const TCase& c : cases) {
        const TSearchPattern pattern = ParseSearchPattern(c.Text, c.Kind);
        EXPECT_EQ(pattern.Bytes, c.Expected) << c.ErrorPart;
        EXPECT_EQ(pattern.Valid(), c.ErrorPart.empty()) << pattern.Error;
        EXPECT_NE(pattern.Error.find(c.ErrorPart), std::string::npos) << pattern.Error;
    }
}

TEST(ByteSearch, FindsFromTheCursorAndGoesOnAtTheOtherEnd)
{
    const Bytes data{1, 2, 3, 1, 2, 3, 1, 2};
    struct TCase {
        Bytes Pattern;
        bool Backward;
        std::uint32_t From;
        std::optional<TFoundAt> Found;
    };
    const TCase cases[] = {
        {{1, 2}, false, 0, TFoundAt{0, false}},
        {{1, 2}, false, 1, TFoundAt{3, false}},
        {{1, 2}, false, 7, TFoundAt{0, true}},
        {{1, 2}, false, 8, TFoundAt{0, true}},
        {{2, 3, 1}, false, 5, TFoundAt{1, true}}, // a match before the start may reach past it
        {{1, 2}, true, 6, TFoundAt{3, false}},
        {{1, 2}, true, 1, TFoundAt{0, false}},
        {{1, 2}, true, 0, TFoundAt{6, true}},
        {{2, 3, 1}, true, 2, TFoundAt{1, false}},
        {{3, 1, 2, 3}, true, 2, TFoundAt{2, true}},
        {{2, 1}, false, 0, std::nullopt},
        {{2, 1}, true, 4, std::nullopt},
        {Bytes(9, 1), false, 0, std::nullopt},
    };
    for (const TCase& c : cases) {
        const std::optional<TFoundAt> found =
            c.Backward ? FindBackward(data, c.Pattern, c.From) : FindForward(data, c.Pattern, c.From);
        EXPECT_EQ(found, c.Found) << c.Backward << " from " << c.From;
    }
}

} // namespace
} // namespace lindprog
