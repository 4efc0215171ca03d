#pragma once
// The image files compilers and linkers produce (Intel HEX, Motorola
// S-record, ELF) and raw binaries, read into one model: a list of segments,
// each a run of bytes at an address. The file's own format is found from its
// content, never from its name, since build systems name their output freely.
//
// Placing an image into the buffer checks everything first and writes only
// when all of it fits: a file that does not match the region must leave the
// buffer as the user had it. So every segment remembers which lines (or which
// ELF segment) its bytes came from, and an error names the line to look at.
// Adjacent records are merged into one segment while reading, which keeps a
// file of a million 16-byte records at a handful of segments.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lindprog {

enum class TImageFormat { Raw, IntelHex, SRecord, Elf };

// The largest region the program takes (the connection refuses larger ones,
// and the command line checks that the two agree). Nothing read from a file
// for a region holds more: an input file is read up to this size, and an
// image whose segments claim more bytes is refused before they are copied,
// since a small ELF file can point every segment at the same bytes.
inline constexpr std::size_t MaxRegionBytes = 256u * 1024 * 1024;

// Where a run of a segment's bytes came from, from Offset in the segment on:
// records of Stride bytes each on consecutive lines from Number (HEX,
// S-record), or the ELF segment Number (counted from 0 as readelf counts
// them), whose Stride is its whole size.
struct TImageOrigin {
    std::size_t Offset = 0;
    std::uint64_t Number = 0;
    std::size_t Stride = 0;
};

struct TImageSegment {
    std::uint64_t Address = 0;
    std::vector<std::uint8_t> Bytes;
    std::vector<TImageOrigin> Origins;
};

struct TImage {
    TImageFormat Format = TImageFormat::Raw;
    std::vector<TImageSegment> Segments;

    // The lowest address holding a byte; 0 for an empty image.
    std::uint64_t Lowest() const;
    // One past the highest address holding a byte; 0 for an empty image.
    std::uint64_t End() const;
    std::size_t ByteCount() const;
    // "line 12" or "segment 2" for the byte at `offset` in segment `segment`;
    // empty for a raw image, which has nothing finer than the file.
    std::string Where(std::size_t segment, std::size_t offset) const;
};

// A file that is no valid image or does not fit where it is placed. The text
// reads "line 12: bad checksum"; Where holds "line 12" alone (empty when the
// fault has no place, like a missing end record).
class TImageError : public std::runtime_error {
public:
    TImageError(std::string where, const std::string& problem);
    std::string Where;
};

TImageFormat DetectImageFormat(std::span<const std::uint8_t> bytes);

// Reads a file of the format DetectImageFormat finds. A raw file is one
// segment at address 0 holding all of it. Throws TImageError.
TImage ParseImage(std::span<const std::uint8_t> bytes);

// Where a region of `regionSize` bytes should start to take the image: 0 when
// the image fits in [0, regionSize), else its lowest address rounded down to a
// multiple of regionSize (a region size of 0 gives the lowest address itself).
std::uint64_t DefaultImageBase(const TImage& image, std::uint32_t regionSize);

// Sets every byte of `buffer` to 0xFF, the erased state of flash, then puts the
// image's bytes at address - base. A byte below base or at or after
// base + buffer.size(), or two segments that overlap with different bytes
// (equal bytes are fine), throw TImageError before anything is written.
void PlaceImage(const TImage& image, std::uint64_t base, std::span<std::uint8_t> buffer);

// The format a file name's extension asks for when saving: .hex and .ihex
// Intel HEX; .srec .s19 .s28 .s37 and .mot S-record; anything else raw.
TImageFormat FormatForFileName(const std::string& path);

// For the readers: collects records into segments, merging a record that
// continues the previous one, and keeps where each came from.
class TImageBuilder {
public:
    explicit TImageBuilder(TImageFormat format) { Image.Format = format; }
    // `bytes` at `address`, read from line (or ELF segment) `number`. Empty
    // records are dropped; the caller makes sure address + size does not wrap.
    void Add(std::uint64_t address, std::span<const std::uint8_t> bytes, std::uint64_t number);
    TImage Take() { return std::move(Image); }

private:
    TImage Image;
};

// For the text readers: the lines of a HEX or S-record file with their
// numbers, blank lines skipped and the white space around each record cut off
// (so LF or CRLF ends and trailing blanks all read alike).
class TRecordLines {
public:
    explicit TRecordLines(std::span<const std::uint8_t> text);
    // The next non-blank line's record; false once the text is used up.
    bool Next(std::string_view& record, std::uint64_t& lineNumber);

private:
    const char* Pos;
    const char* Stop;
    std::uint64_t Line = 0;
};

// Decodes the hex digits of `digits` into bytes; returns the count, or throws
// at line `lineNumber` for an odd count or a character that is no hex digit.
// `out` must hold digits.size() / 2 bytes.
std::size_t DecodeHexDigits(std::string_view digits, std::uint8_t* out, std::uint64_t lineNumber);

// Two upper-case hex digits of `value` at `out`, for the writers.
void PutHexByte(char* out, std::uint8_t value);

} // namespace lindprog
