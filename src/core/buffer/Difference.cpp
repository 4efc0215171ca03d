#include "core/buffer/Difference.h"

#include "core/base/TextFormat.h"

#include <algorithm>

namespace lindprog {

namespace {

std::uint8_t ByteAt(std::span<const std::uint8_t> bytes, std::size_t offset, bool& present)
{
    present = offset < bytes.size();
    return present ? bytes[offset] : 0;
}

} // namespace

TDifferences FindDifferences(std::span<const std::uint8_t> expected, std::span<const std::uint8_t> read)
{
    TDifferences differences;
    differences.OnlySetsBits = true;
    const std::size_t length = std::max(expected.size(), read.size());
    for (std::size_t offset = 0; offset < length; ++offset) {
        bool hasExpected = false;
        bool hasRead = false;
        const std::uint8_t want = ByteAt(expected, offset, hasExpected);
        const std::uint8_t got = ByteAt(read, offset, hasRead);
        if (hasExpected && hasRead && want == got)
            continue;
        ++differences.Count;
        if (!hasExpected || !hasRead || (got & want) != want)
            differences.OnlySetsBits = false;
        const auto at = static_cast<std::uint32_t>(offset);
        if (!differences.Ranges.empty() && differences.Ranges.back().End == at)
            differences.Ranges.back().End = at + 1;
        else
            differences.Ranges.push_back({at, at + 1});
    }
    if (differences.Count == 0)
        differences.OnlySetsBits = false;
    return differences;
}

std::size_t NextDifference(const std::vector<TDifferenceRange>& ranges, std::uint32_t offset, bool inclusive)
{
    if (ranges.empty())
        return 0;
    const auto after = std::find_if(ranges.begin(), ranges.end(), [&](const TDifferenceRange& range) {
        return inclusive ? range.End > offset : range.Start > offset;
    });
    return after == ranges.end() ? 0 : static_cast<std::size_t>(after - ranges.begin());
}

std::size_t PreviousDifference(const std::vector<TDifferenceRange>& ranges, std::uint32_t offset)
{
    if (ranges.empty())
        return 0;
    const auto before = std::find_if(ranges.rbegin(), ranges.rend(),
                                     [&](const TDifferenceRange& range) { return range.Start < offset; });
    return before == ranges.rend() ? ranges.size() - 1 : static_cast<std::size_t>(ranges.rend() - before - 1);
}

std::vector<std::string> DifferenceReport(const TDifferences& differences, std::span<const std::uint8_t> expected,
                                          std::span<const std::uint8_t> read, std::size_t maxRanges,
                                          std::size_t maxBytes)
{
    if (differences.None())
        return {"No differences"};
    std::vector<std::string> lines;
    lines.push_back(Format("%llu bytes differ in %zu ranges", static_cast<unsigned long long>(differences.Count),
                           differences.Ranges.size()));
    for (std::size_t k = 0; k < differences.Ranges.size() && k < maxRanges; ++k) {
        const TDifferenceRange& range = differences.Ranges[k];
        lines.push_back(Format("  0x%08X..0x%08X (%u bytes)", range.Start, range.End - 1, range.End - range.Start));
    }
    if (differences.Ranges.size() > maxRanges)
        lines.push_back(Format("  ... and %zu more ranges", differences.Ranges.size() - maxRanges));
    std::size_t shown = 0;
    for (const TDifferenceRange& range : differences.Ranges) {
        for (std::uint32_t at = range.Start; at < range.End && shown < maxBytes; ++at, ++shown) {
            bool present = false;
            const std::uint8_t want = ByteAt(expected, at, present);
            const std::string wantText = present ? Format("%02X", want) : std::string("--");
            const std::uint8_t got = ByteAt(read, at, present);
            const std::string gotText = present ? Format("%02X", got) : std::string("--");
            lines.push_back(Format("  at 0x%08X: expected %s, read %s", at, wantText.c_str(), gotText.c_str()));
        }
    }
    if (differences.OnlySetsBits)
        lines.push_back("Every difference only sets bits: looks not erased/not written");
    return lines;
}

} // namespace lindprog
