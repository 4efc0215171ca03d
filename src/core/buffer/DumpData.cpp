#include "core/buffer/DumpData.h"

#include "core/buffer/DumpLayout.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace lindprog {

std::uint8_t ParseFillValue(std::string_view text)
{
    constexpr std::uint8_t Unreadable = 0xFF;
    if (text.empty())
        return Unreadable;
    std::uint32_t value = 0;
    int significant = 0;
    for (const char c : text) {
        const int digit = HexDigitValue(static_cast<std::uint8_t>(c));
        if (digit < 0)
            return Unreadable;
        if (significant > 0 || digit != 0)
            ++significant;
        if (significant > 8)
            return Unreadable;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return static_cast<std::uint8_t>(value);
}

bool TDumpData::SetData(std::span<std::uint8_t> block)
{
    std::vector<std::uint8_t> reference(block.size());
    Data = block;
    RefData = std::move(reference);
    Clear();
    return HasData();
}

void TDumpData::Clear()
{
    std::ranges::fill(Data, std::uint8_t{0});
    UpdateChanges();
}

void TDumpData::UpdateChanges()
{
    std::ranges::copy(Data, RefData.begin());
    IsModified = false;
    History.Clear();
}

void TDumpData::RevertChanges()
{
    std::ranges::copy(RefData, Data.begin());
    IsModified = false;
    History.Clear();
}

bool TDumpData::SetByte(std::int64_t index, std::uint8_t value)
{
    if (!Contains(index))
        return false;
    std::uint8_t& byte = Data[static_cast<std::size_t>(index)];
    History.Record({.Offset = static_cast<std::uint32_t>(index),
                    .Before = {byte},
                    .After = {value},
                    .ModifiedBefore = IsModified,
                    .ModifiedAfter = true,
                    .Typing = true});
    byte = value;
    IsModified = true;
    return true;
}

void TDumpData::Put(std::uint32_t offset, std::span<const std::uint8_t> bytes, bool modified)
{
    std::ranges::copy(bytes, Data.begin() + offset);
    IsModified = modified;
}

const TEdit* TDumpData::Undo()
{
    const TEdit* step = History.Undo();
    if (step)
        Put(step->Offset, step->Before, step->ModifiedBefore);
    return step;
}

const TEdit* TDumpData::Redo()
{
    const TEdit* step = History.Redo();
    if (step)
        Put(step->Offset, step->After, step->ModifiedAfter);
    return step;
}

bool TDumpData::FillSelected(std::int64_t selStart, std::int64_t selEnd, std::string_view text)
{
    LastFillValue = ParseFillValue(text);
    const std::int64_t first = std::max<std::int64_t>(selStart, 0);
    const std::int64_t last = std::min<std::int64_t>(selEnd, static_cast<std::int64_t>(Data.size()) - 1);
    if (first > last)
        return false;
    const auto begin = Data.begin() + first;
    const auto end = begin + (last - first + 1);
    History.Record({.Offset = static_cast<std::uint32_t>(first),
                    .Before = {begin, end},
                    .After = std::vector<std::uint8_t>(static_cast<std::size_t>(end - begin), LastFillValue),
                    .ModifiedBefore = IsModified,
                    .ModifiedAfter = true});
    std::fill(begin, end, LastFillValue);
    IsModified = true;
    return true;
}

std::string TDumpData::FillValueText() const
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(LastFillValue));
    return text;
}

bool TDumpData::IsChanged(std::int64_t index) const
{
    return Contains(index) && Data[static_cast<std::size_t>(index)] != RefData[static_cast<std::size_t>(index)];
}

} // namespace lindprog
