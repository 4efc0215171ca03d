#include "core/base/Suggestion.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace lindprog {

namespace {

bool SameLetter(char a, char b)
{
    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

// Edits from a to b, a swap of two neighbours counting as one: "fromat" is
// one slip of the fingers away from "format", not two.
std::size_t EditDistance(std::string_view a, std::string_view b)
{
    // Three rows of the table: the one before the last, the last, this one.
    std::vector<std::size_t> before(b.size() + 1), last(b.size() + 1), row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        last[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t change = SameLetter(a[i - 1], b[j - 1]) ? 0 : 1;
            row[j] = std::min({last[j] + 1, row[j - 1] + 1, last[j - 1] + change});
            if (i > 1 && j > 1 && SameLetter(a[i - 1], b[j - 2]) && SameLetter(a[i - 2], b[j - 1]))
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
        std::swap(before, last);
        std::swap(last, row);
    }
    return last[b.size()];
}

} // namespace

std::optional<std::string> Suggestion(std::string_view word, std::span<const std::string_view> candidates)
{
    const std::size_t allowed = std::max<std::size_t>(1, word.size() / 3);
    std::optional<std::string> nearest;
    std::size_t nearestDistance = allowed + 1;
    for (const std::string_view candidate : candidates) {
        const std::size_t distance = EditDistance(word, candidate);
        if (distance < nearestDistance) {
            nearest = std::string(candidate);
            nearestDistance = distance;
        }
    }
    return nearest;
}

std::string DidYouMean(std::string_view word, std::span<const std::string_view> candidates)
{
    const auto suggestion = Suggestion(word, candidates);
    return suggestion ? "; did you mean '" + *suggestion + "'?" : "";
}

} // namespace lindprog
