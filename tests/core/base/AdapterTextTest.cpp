#include "core/base/AdapterText.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lindprog {
namespace {

std::string Decode(std::vector<std::uint8_t> bytes)
{
    return AdapterTextToUtf8(bytes);
}

TEST(AdapterText, DecodesWindows1252IntoUtf8)
{
    EXPECT_EQ(Decode({'S', 'P', 'C', '5', '6'}), "SPC56");
    EXPECT_EQ(Decode({0xE4, 0xF6, 0xFC, 0xDF}), "\u00e4\u00f6\u00fc\u00df");
    EXPECT_EQ(Decode({0x80, 0x99, 0x9F}), "\u20ac\u2122\u0178") << "the code page's own 0x80-0x9F";
    EXPECT_EQ(Decode({0x81, 0x8D, 0x8F, 0x90, 0x9D}), "\u0081\u008d\u008f\u0090\u009d") << "unassigned ones";
    EXPECT_EQ(Decode({0xA0, 0xFF}), "\u00a0\u00ff");

    // Every byte is exactly one character: nothing is dropped or replaced.
    std::vector<std::uint8_t> all;
    for (int byte = 1; byte < 256; ++byte)
        all.push_back(static_cast<std::uint8_t>(byte));
    const std::string text = Decode(all);
    std::size_t characters = 0;
    for (const char unit : text)
        characters += (static_cast<std::uint8_t>(unit) & 0xC0) != 0x80 ? 1 : 0;
    EXPECT_EQ(characters, all.size());
    EXPECT_EQ(text.find("\xEF\xBF\xBD"), std::string::npos);
}

TEST(AdapterText, ControlCharactersAreShownEscaped)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Corvane JTAG", "Corvane JTAG"},
        {"x\nSuccessfully read 999 bytes", "x\\nSuccessfully read 999 bytes"},
        {"\x1B[2J\r\t", "\\x1B[2J\\r\\t"},
        {std::string("a\0b", 3) + "\x7F", "a\\x00b\\x7F"},
        {"\u009B\u00e4\u20ac", "\\x9B\u00e4\u20ac"},
        {"C:\\img.bin", "C:\\img.bin"},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(ShowControlCharacters(text), shown);
}

} // namespace
} // namespace lindprog
