// The word a typo most likely stands for, and when no known word is near.

#include "core/base/Suggestion.h"

#include <gtest/gtest.h>

#include <array>

namespace lindprog {
namespace {

TEST(Suggestion, TheNearestWordWithinATypoOrNone)
{
    constexpr std::array<std::string_view, 6> Words{"program", "erase", "format", "bat", "cap", "blank-check"};
    const std::pair<const char*, const char*> cases[] = {
        {"programm", "program"},      // a letter too many
        {"fromat", "format"},         // two neighbours swapped: one edit
        {"PROGRAM", "program"},       // case does not count
        {"blnk-chek", "blank-check"}, // two edits in nine letters
        {"eras", "erase"},            // one edit is a typo however short the word
        {"ers", ""},                  // two in three letters are not
        {"cat", "bat"},               // equally near: the first
        {"xyz", ""},
    };
    for (const auto& [word, meant] : cases)
        EXPECT_EQ(Suggestion(word, Words).value_or(""), meant) << word;
}

} // namespace
} // namespace lindprog
