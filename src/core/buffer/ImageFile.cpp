#include "core/buffer/ImageFile.h"

#include "core/base/TextFormat.h"
#include "core/buffer/ElfImage.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>

namespace lindprog {
namespace {

constexpr std::uint8_t NoDigit = 0xFF;

constexpr std::array<std::uint8_t, 256> MakeHexValues()
{
    std::array<std::uint8_t, 256> values{};
    values.fill(NoDigit);
    for (int i = 0; i < 10; ++i)
        values['0' + i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        values['A' + i] = static_cast<std::uint8_t>(10 + i);
        values['a' + i] = static_cast<std::uint8_t>(10 + i);
    }
    return values;
}

constexpr std::array<std::uint8_t, 256> HexValues = MakeHexValues();

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

unsigned long long Ull(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

// A character as a message shows it: itself when printable, else its code.
std::string CharName(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code >= 0x20 && code < 0x7F)
        return std::string("'") + c + "'";
    return Format("0x%02X", static_cast<unsigned>(code));
}

std::string LineWhere(std::uint64_t lineNumber)
{
    return "line " + std::to_string(lineNumber);
}

// The line (or ELF segment) the byte at `offset` of `segment` came from.
std::uint64_t OriginNumber(const TImageSegment& segment, std::size_t offset)
{
    const auto& origins = segment.Origins;
    auto run = std::upper_bound(origins.begin(), origins.end(), offset,
                                [](std::size_t at, const TImageOrigin& origin) { return at < origin.Offset; });
    if (run == origins.begin())
        return 0;
    --run;
    return run->Number + (run->Stride ? (offset - run->Offset) / run->Stride : 0);
}

// Fails when a byte of segment `index` lies outside [base, base + size).
void CheckInRegion(const TImage& image, std::size_t index, std::uint64_t base, std::size_t size)
{
    const TImageSegment& segment = image.Segments[index];
    if (segment.Address < base)
        throw TImageError(image.Where(index, 0),
                          Format("address 0x%llX below the base 0x%llX", Ull(segment.Address), Ull(base)));
    const std::uint64_t offset = segment.Address - base;
    if (offset < size && size - offset >= segment.Bytes.size())
        return;
    // The first byte past the region names the record to look at.
    const std::size_t first = offset >= size ? 0 : static_cast<std::size_t>(size - offset);
    throw TImageError(image.Where(index, first), Format("address 0x%llX at or beyond base + region size 0x%llX",
                                                        Ull(segment.Address + first), Ull(base + size)));
}

// Walks the segments by address. Any part of a segment below the highest end
// seen so far lies wholly inside the segment that reached that end (it starts
// no later), and every earlier overlap was found equal, so comparing with that
// one segment alone is enough.
void CheckOverlaps(const TImage& image)
{
    const auto& segments = image.Segments;
    std::vector<std::size_t> order(segments.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return segments[a].Address < segments[b].Address; });
    std::size_t cover = 0;
    std::uint64_t coverEnd = 0;
    bool any = false;
    for (const std::size_t index : order) {
        const TImageSegment& segment = segments[index];
        const std::uint64_t end = segment.Address + segment.Bytes.size();
        if (any && segment.Address < coverEnd) {
            const auto length = static_cast<std::size_t>(std::min(end, coverEnd) - segment.Address);
            const auto coverOffset = static_cast<std::size_t>(segment.Address - segments[cover].Address);
            const std::uint8_t* mine = segment.Bytes.data();
            const std::uint8_t* theirs = segments[cover].Bytes.data() + coverOffset;
            if (std::memcmp(mine, theirs, length) != 0) {
                const auto at = static_cast<std::size_t>(std::mismatch(mine, mine + length, theirs).first - mine);
                // The later of the two in the file is the one that overlaps.
                std::string here = image.Where(index, at);
                std::string there = image.Where(cover, coverOffset + at);
                if (OriginNumber(segment, at) < OriginNumber(segments[cover], coverOffset + at))
                    std::swap(here, there);
                throw TImageError(here, Format("address 0x%llX overlaps %s with different bytes",
                                               Ull(segment.Address + at), there.c_str()));
            }
        }
        if (!any || end > coverEnd) {
            cover = index;
            coverEnd = end;
            any = true;
        }
    }
}

} // namespace

std::uint64_t TImage::Lowest() const
{
    if (Segments.empty())
        return 0;
    return std::min_element(Segments.begin(), Segments.end(),
                            [](const auto& a, const auto& b) { return a.Address < b.Address; })
        ->Address;
}

std::uint64_t TImage::End() const
{
    std::uint64_t end = 0;
    for (const auto& segment : Segments)
        end = std::max(end, segment.Address + segment.Bytes.size());
    return end;
}

std::size_t TImage::ByteCount() const
{
    std::size_t count = 0;
    for (const auto& segment : Segments)
        count += segment.Bytes.size();
    return count;
}

std::string TImage::Where(std::size_t segment, std::size_t offset) const
{
    if (Format == TImageFormat::Raw || segment >= Segments.size() || Segments[segment].Origins.empty())
        return {};
    return (Format == TImageFormat::Elf ? "segment " : "line ") +
           std::to_string(OriginNumber(Segments[segment], offset));
}

TImageError::TImageError(std::string where, const std::string& problem)
    : std::runtime_error(where.empty() ? problem : where + ": " + problem), Where(std::move(where))
{
}

TImageFormat DetectImageFormat(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() >= 4 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F')
        return TImageFormat::Elf;
    const auto first = std::find_if_not(bytes.begin(), bytes.end(), [](std::uint8_t c) { return IsBlank(char(c)); });
    if (first == bytes.end())
        return TImageFormat::Raw;
    if (*first == ':')
        return TImageFormat::IntelHex;
    if (*first == 'S' && first + 1 != bytes.end() && first[1] >= '0' && first[1] <= '9')
        return TImageFormat::SRecord;
    return TImageFormat::Raw;
}

TImage ParseImage(std::span<const std::uint8_t> bytes)
{
    switch (DetectImageFormat(bytes)) {
    case TImageFormat::Elf: return ParseElfImage(bytes);
    case TImageFormat::IntelHex: return ParseIntelHex(bytes);
    case TImageFormat::SRecord: return ParseSRecord(bytes);
    case TImageFormat::Raw: break;
    }
    TImageBuilder builder(TImageFormat::Raw);
    builder.Add(0, bytes, 0);
    return builder.Take();
}

std::uint64_t DefaultImageBase(const TImage& image, std::uint32_t regionSize)
{
    if (image.End() <= regionSize)
        return 0;
    const std::uint64_t lowest = image.Lowest();
    return regionSize == 0 ? lowest : lowest - lowest % regionSize;
}

void PlaceImage(const TImage& image, std::uint64_t base, std::span<std::uint8_t> buffer)
{
    for (std::size_t index = 0; index < image.Segments.size(); ++index)
        CheckInRegion(image, index, base, buffer.size());
    CheckOverlaps(image);
    std::fill(buffer.begin(), buffer.end(), std::uint8_t{0xFF});
    for (const auto& segment : image.Segments)
        std::copy(segment.Bytes.begin(), segment.Bytes.end(),
                  buffer.begin() + static_cast<std::ptrdiff_t>(segment.Address - base));
}

TImageFormat FormatForFileName(const std::string& path)
{
    const std::size_t dot = path.find_last_of('.');
    const std::size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return TImageFormat::Raw;
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    if (extension == "hex" || extension == "ihex")
        return TImageFormat::IntelHex;
    if (extension == "srec" || extension == "s19" || extension == "s28" || extension == "s37" || extension == "mot")
        return TImageFormat::SRecord;
    return TImageFormat::Raw;
}

void TImageBuilder::Add(std::uint64_t address, std::span<const std::uint8_t> bytes, std::uint64_t number)
{
    if (bytes.empty())
        return;
    auto& segments = Image.Segments;
    if (!segments.empty() && address == segments.back().Address + segments.back().Bytes.size()) {
        TImageSegment& last = segments.back();
        const std::size_t offset = last.Bytes.size();
        const TImageOrigin& run = last.Origins.back();
        const std::size_t into = offset - run.Offset;
        // A record of the run's size on the run's next line needs no entry.
        if (run.Stride != bytes.size() || into % run.Stride != 0 || run.Number + into / run.Stride != number)
            last.Origins.push_back({offset, number, bytes.size()});
        last.Bytes.insert(last.Bytes.end(), bytes.begin(), bytes.end());
        return;
    }
    TImageSegment& segment = segments.emplace_back();
    segment.Address = address;
    segment.Bytes.assign(bytes.begin(), bytes.end());
    segment.Origins.push_back({0, number, bytes.size()});
}

TRecordLines::TRecordLines(std::span<const std::uint8_t> text)
    : Pos(reinterpret_cast<const char*>(text.data())), Stop(Pos + text.size())
{
}

bool TRecordLines::Next(std::string_view& record, std::uint64_t& lineNumber)
{
    while (Pos < Stop) {
        ++Line;
        const auto* newline = static_cast<const char*>(std::memchr(Pos, '\n', static_cast<std::size_t>(Stop - Pos)));
        const char* lineEnd = newline ? newline : Stop;
        const char* begin = Pos;
        Pos = newline ? newline + 1 : Stop;
        while (begin < lineEnd && IsBlank(*begin))
            ++begin;
        const char* end = lineEnd;
        while (end > begin && IsBlank(end[-1]))
            --end;
        if (begin != end) {
            record = std::string_view(begin, static_cast<std::size_t>(end - begin));
            lineNumber = Line;
            return true;
        }
    }
    return false;
}

std::size_t DecodeHexDigits(std::string_view digits, std::uint8_t* out, std::uint64_t lineNumber)
{
    const std::size_t count = digits.size() / 2;
    const char* in = digits.data();
    std::size_t done = 0;
    for (; done < count; ++done) {
        const std::uint8_t high = HexValues[static_cast<unsigned char>(in[2 * done])];
        const std::uint8_t low = HexValues[static_cast<unsigned char>(in[2 * done + 1])];
        if ((high | low) > 0x0F)
            break;
        out[done] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (done == count && digits.size() % 2 == 0)
        return count;
    // A stray character says more than the odd count it may also cause.
    const auto bad = std::find_if(digits.begin(), digits.end(),
                                  [](char c) { return HexValues[static_cast<unsigned char>(c)] == NoDigit; });
    if (bad != digits.end())
        throw TImageError(LineWhere(lineNumber), CharName(*bad) + " is no hex digit");
    throw TImageError(LineWhere(lineNumber), "odd number of hex digits");
}

void PutHexByte(char* out, std::uint8_t value)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    out[0] = Digits[value >> 4];
    out[1] = Digits[value & 0x0F];
}

} // namespace lindprog
