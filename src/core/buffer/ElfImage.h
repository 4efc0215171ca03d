#pragma once
// ELF executables as linkers write them, 32 or 64 bits, either byte order. The
// programmer writes what the chip holds before it starts: the file bytes of
// each loadable segment, at its physical (load) address, which is where flash
// sits even when the code runs elsewhere. What a segment has beyond its file
// size (.bss and the like) is zeroed by the startup code in RAM, so it is left
// out, not written as zeros.
//
// Every offset and size is checked against the file's length before use, in
// arithmetic that cannot wrap: the file comes from anywhere. The segments'
// bytes together may not pass MaxRegionBytes, checked before any is copied,
// as a few megabytes of program headers can name the same bytes 65,534 times.

#include "core/buffer/ImageFile.h"

#include <cstdint>
#include <span>

namespace lindprog {

// Reads the loadable segments of an ELF file; errors name the segment by its
// index in the program header table, counted from 0. Throws TImageError.
TImage ParseElfImage(std::span<const std::uint8_t> bytes);

} // namespace lindprog
