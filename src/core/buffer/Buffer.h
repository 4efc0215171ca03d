#pragma once
// A front end's buffer: the in-memory image of the selected region, always
// exactly the region's size, and the whole-buffer commands (swap, fill).
//
// Its owner keeps one TBuffer for the run. A hex view shows its bytes in
// place through a span, so the block must never be replaced behind the view's
// back: resize it only through ResizeBuffer (below), which detaches the
// view first. After SwapBytes or FillCounting the owner calls the view's
// UpdateChanges, so the new contents are not shown as changed.

#include <cstdint>
#include <new>
#include <span>
#include <string>
#include <vector>

namespace lindprog {

class TBuffer {
public:
    // Takes `block` in place of the old one, which is released.
    void Replace(std::vector<std::uint8_t> block);

    std::span<std::uint8_t> Bytes() { return Block; }
    std::span<const std::uint8_t> Bytes() const { return Block; }
    std::uint32_t Size() const { return static_cast<std::uint32_t>(Block.size()); }

    // The caption of the buffer-size label: "n/a" until the first Resize, then
    // the size as "0x%X" (0x80000, 0x0).
    std::string SizeCaption() const;

private:
    std::vector<std::uint8_t> Block;
    bool Sized = false;
};

// A front end's ResizeBuffer: a new buffer of `size` zero bytes, shown by
// the view from offset 0 with nothing changed. The view (anything with
// SetData(span): the hex view's editor or its frame, which keeps a reference
// copy) lets go of the old block before it is released, so it never shows
// freed memory. False when memory cannot be had: for the block, and the buffer
// and the view stay as they were; or for the view's copy, and the view shows
// nothing. The caller then sets the size label from buffer.SizeCaption().
template <typename TView>
bool ResizeBuffer(TBuffer& buffer, TView& view, std::uint32_t size)
{
    std::vector<std::uint8_t> block;
    try {
        block.resize(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    view.SetData({});
    buffer.Replace(std::move(block));
    try {
        view.SetData(buffer.Bytes());
        return true;
    } catch (const std::bad_alloc&) {
        view.SetData({});
        return false;
    }
}

// Exchanges the two bytes of a 16-bit value.
constexpr std::uint16_t Swap16(std::uint16_t x)
{
    return static_cast<std::uint16_t>((x << 8) | (x >> 8));
}

// Reverses the byte order of a 32-bit value: Swap16 of the low half goes high,
// Swap16 of the high half goes low.
constexpr std::uint32_t Swap32(std::uint32_t x)
{
    return (static_cast<std::uint32_t>(Swap16(static_cast<std::uint16_t>(x))) << 16) |
           Swap16(static_cast<std::uint16_t>(x >> 16));
}

// "Swap bytes": every whole 32-bit word b0 b1 b2 b3 becomes b3 b2 b1 b0; the 1
// to 3 bytes after the last whole word stay. Applying it twice restores.
void SwapBytes(std::span<std::uint8_t> bytes);

// "Fill": a counting pattern, word k := k as a 32-bit little-endian value
// (00 00 00 00 01 00 00 00 ...); the 1 to 3 bytes after the last whole word stay.
void FillCounting(std::span<std::uint8_t> bytes);

} // namespace lindprog
