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
}

void TDumpData::RevertChanges()
{
    std::ranges::copy(RefData, Data.begin());
    IsModified = false;
}

bool TDumpData::SetByte(std::int64_t index, std::uint8_t value)
{
    if (!Contains(index))
        return false;
    Data[static_cast<std::size_t>(index)] = value;
    IsModified = true;
    return true;
}

bool TDumpData::FillSelected(std::int64_t selStart, std::int64_t selEnd, std::string_view text)
{
    LastFillValue = ParseFillValue(text);
    const std::int64_t first = std::max<std::int64_t>(selStart, 0);
    const std::int64_t last = std::min<std::int64_t>(selEnd, static_cast<std::int64_t>(Data.size()) - 1);
    if (first > last)
        return false;
    const auto begin = Data.begin() + first;
    std::fill(begin, begin + (last - first + 1), LastFillValue);
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
