#pragma once
// Intel HEX, the text image most microcontroller tool chains write: records of
// ":" LL AAAA TT data CC. Data (00), end of file (01), and the extended segment
// (02) and linear (04) address records are used; start addresses (03, 05) are
// read and ignored, since the programmer only writes memory. Every record's
// checksum is checked: a damaged file must not reach the flash.

#include "core/buffer/ImageFile.h"

#include <cstdint>
#include <span>
#include <string>

namespace lindprog {

// Reads an Intel HEX file. Blank lines, LF or CRLF ends, white space around a
// record and either case of hex digits are fine; after the end-of-file record
// only white space may follow. A record running past 0xFFFF of its extended
// address goes on at the next address rather than wrapping, as the files
// linkers write never wrap. Throws TImageError naming the line.
TImage ParseIntelHex(std::span<const std::uint8_t> text);

// The whole buffer as an Intel HEX file for `base`: 16 data bytes a record, none
// crossing a 64 KiB boundary, a linear address (04) record at the start when
// base lies above 64 KiB and wherever the upper 16 address bits change, then the
// end-of-file record. Lines end with LF. Throws TImageError when the buffer
// reaches beyond the 4 GiB the format can address.
std::string WriteIntelHex(std::span<const std::uint8_t> buffer, std::uint64_t base);

} // namespace lindprog
