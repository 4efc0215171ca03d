#pragma once
// Motorola S-records, the text image of many 68k, PowerPC and ARM tool chains:
// lines of "S" type, a byte count, an address, data and a checksum. S1/S2/S3
// carry data at 16/24/32-bit addresses; S0 (header) is ignored; S5/S6 count
// the data records and are checked, as they catch a file cut short between
// records; S7/S8/S9 end the file, their start address ignored.

#include "core/buffer/ImageFile.h"

#include <cstdint>
#include <span>
#include <string>

namespace lindprog {

// Reads an S-record file, with the same tolerance as Intel HEX: blank lines,
// LF or CRLF, white space around a record, either case of hex digits, and
// only white space after the termination record. A file must end with a
// termination record or a record count, else it was cut short. Throws
// TImageError naming the line.
TImage ParseSRecord(std::span<const std::uint8_t> text);

// The whole buffer as S-records for `base`: an empty S0 header, 32 data bytes
// a record in the shortest of S1/S2/S3 that holds the highest address, an
// S5 (or S6) with the record count while one fits, and the matching S9/S8/S7
// with start address 0, as the buffer has no entry point. Lines end with LF.
// Throws TImageError when the buffer reaches beyond 4 GiB.
std::string WriteSRecord(std::span<const std::uint8_t> buffer, std::uint64_t base);

} // namespace lindprog
