#pragma once
// Where two images of one region differ: what the device holds against what
// was expected. Compare, a failed verify and the window's difference marks
// all report it the same way: the count of differing bytes, the differing
// ranges merged, the first bytes with both values, and a hint when every
// difference only sets bits (a flash byte left 0xFF where data was expected
// was not erased or not written).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

struct TDifferenceRange {
    std::uint32_t Start = 0;
    std::uint32_t End = 0; // one past the last differing byte
    bool operator==(const TDifferenceRange&) const = default;
};

struct TDifferences {
    std::uint64_t Count = 0;
    std::vector<TDifferenceRange> Ranges; // in address order, adjacent bytes merged
    bool OnlySetsBits = false;            // every read byte holds all bits of the expected one, and more

    bool None() const { return Count == 0; }
};

// Compares the common length of both; bytes past the shorter one count as
// differing.
TDifferences FindDifferences(std::span<const std::uint8_t> expected, std::span<const std::uint8_t> read);

// The index of the first range that starts after `offset` (or at it when
// `inclusive`), wrapping to the first; ranges.size() when there are none.
std::size_t NextDifference(const std::vector<TDifferenceRange>& ranges, std::uint32_t offset, bool inclusive = false);
// The last range that starts before `offset`, wrapping to the last.
std::size_t PreviousDifference(const std::vector<TDifferenceRange>& ranges, std::uint32_t offset);

// The report's lines: the count, at most maxRanges ranges, the first
// maxBytes differing bytes with both values, and the hint when it applies.
std::vector<std::string> DifferenceReport(const TDifferences& differences, std::span<const std::uint8_t> expected,
                                          std::span<const std::uint8_t> read, std::size_t maxRanges = 20,
                                          std::size_t maxBytes = 8);

} // namespace lindprog
