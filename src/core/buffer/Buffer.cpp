#include "core/buffer/Buffer.h"

#include <cstddef>
#include <cstdio>

namespace lindprog {
namespace {

std::uint32_t GetWordLE(std::span<const std::uint8_t> word)
{
    return static_cast<std::uint32_t>(word[0]) | (static_cast<std::uint32_t>(word[1]) << 8) |
           (static_cast<std::uint32_t>(word[2]) << 16) | (static_cast<std::uint32_t>(word[3]) << 24);
}

void PutWordLE(std::span<std::uint8_t> word, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        word[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

void TBuffer::Replace(std::vector<std::uint8_t> block)
{
    Block = std::move(block);
    Sized = true;
}

std::string TBuffer::SizeCaption() const
{
    if (!Sized)
        return "n/a";
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(Size()));
    return text;
}

void SwapBytes(std::span<std::uint8_t> bytes)
{
    const std::size_t words = bytes.size() / 4;
    for (std::size_t k = 0; k < words; ++k) {
        const std::span<std::uint8_t> word = bytes.subspan(4 * k, 4);
        PutWordLE(word, Swap32(GetWordLE(word)));
    }
}

void FillCounting(std::span<std::uint8_t> bytes)
{
    const std::size_t words = bytes.size() / 4;
    for (std::size_t k = 0; k < words; ++k) {
        PutWordLE(bytes.subspan(4 * k, 4), static_cast<std::uint32_t>(k));
    }
}

} // namespace lindprog
