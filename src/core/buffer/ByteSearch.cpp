#include "core/buffer/ByteSearch.h"

#include "core/base/TextFormat.h"
#include "core/buffer/DumpLayout.h"

#include <algorithm>
#include <cstddef>
#include <functional>

namespace lindprog {
namespace {

bool IsSpace(char32_t ch)
{
    return ch == U' ' || ch == U'\t';
}

TSearchPattern Refuse(std::string error)
{
    return {{}, std::move(error)};
}

TSearchPattern ParseText(std::u32string_view text)
{
    TSearchPattern pattern;
    for (const char32_t ch : text) {
        const std::uint8_t byte = UnicodeToAnsi(ch);
        if (byte == '?' && ch != U'?')
            return Refuse("The text holds a character that no byte shows (the view shows Windows-1252).");
        pattern.Bytes.push_back(byte);
    }
    if (pattern.Bytes.empty())
        return Refuse("Enter the bytes to find.");
    return pattern;
}

TSearchPattern ParseHex(std::u32string_view text)
{
    TSearchPattern pattern;
    std::string group;
    const auto endGroup = [&] {
        if (group.size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < group.size(); i += 2)
            pattern.Bytes.push_back(static_cast<std::uint8_t>(HexDigitValue(static_cast<std::uint8_t>(group[i])) * 16 +
                                                              HexDigitValue(static_cast<std::uint8_t>(group[i + 1]))));
        group.clear();
        return true;
    };
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || IsSpace(text[i])) {
            if (!endGroup())
                return Refuse(Format("\"%s\" has an odd number of hex digits: each byte takes two.", group.c_str()));
            continue;
        }
        if (text[i] > 0x7F || !IsHexDigit(static_cast<std::uint8_t>(text[i])))
            return Refuse(Format("Character %zu is not a hex digit. Put text in double quotes or choose Text.", i + 1));
        group += static_cast<char>(text[i]);
    }
    if (pattern.Bytes.empty())
        return Refuse("Enter the bytes to find.");
    return pattern;
}

} // namespace

TSearchPattern ParseSearchPattern(std::u32string_view text, TPatternKind kind)
{
    if (kind == TPatternKind::Text)
        return ParseText(text);
    while (!text.empty() && IsSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back()))
        text.remove_suffix(1);
    if (text.empty() || text.front() != U'"')
        return ParseHex(text);
    if (text.size() < 2 || text.back() != U'"')
        return Refuse("The text has no closing double quote.");
    return ParseText(text.substr(1, text.size() - 2));
}

std::optional<TFoundAt> FindForward(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
                                    std::uint32_t from)
{
    if (pattern.empty() || pattern.size() > data.size())
        return std::nullopt;
    const std::size_t start = std::min<std::size_t>(from, data.size());
    const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
    auto found = std::search(data.begin() + static_cast<std::ptrdiff_t>(start), data.end(), searcher);
    if (found != data.end())
        return TFoundAt{static_cast<std::uint32_t>(found - data.begin()), false};
    // Matches that start before `from` may end after it.
    const std::size_t wrapEnd = std::min(data.size(), start + pattern.size() - 1);
    const auto stop = data.begin() + static_cast<std::ptrdiff_t>(wrapEnd);
    found = std::search(data.begin(), stop, searcher);
    if (found == stop)
        return std::nullopt;
    return TFoundAt{static_cast<std::uint32_t>(found - data.begin()), true};
}

std::optional<TFoundAt> FindBackward(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pattern,
                                     std::uint32_t before)
{
    if (pattern.empty() || pattern.size() > data.size())
        return std::nullopt;
    if (before > 0) {
        // Every match starting before `before` lies within its first bytes plus the pattern's tail.
        const std::size_t reach = std::min(data.size(), std::size_t{before} - 1 + pattern.size());
        const auto stop = data.begin() + static_cast<std::ptrdiff_t>(reach);
        const auto found = std::find_end(data.begin(), stop, pattern.begin(), pattern.end());
        if (found != stop)
            return TFoundAt{static_cast<std::uint32_t>(found - data.begin()), false};
    }
    const auto found = std::find_end(data.begin(), data.end(), pattern.begin(), pattern.end());
    if (found == data.end())
        return std::nullopt;
    return TFoundAt{static_cast<std::uint32_t>(found - data.begin()), true};
}

} // namespace lindprog
