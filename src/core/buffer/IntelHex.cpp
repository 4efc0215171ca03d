#include "core/buffer/IntelHex.h"

#include "core/base/TextFormat.h"

#include <algorithm>
#include <cstddef>

namespace lindprog {
namespace {

namespace Type {
constexpr std::uint8_t Data = 0x00;
constexpr std::uint8_t EndOfFile = 0x01;
constexpr std::uint8_t SegmentAddress = 0x02;
constexpr std::uint8_t StartSegment = 0x03;
constexpr std::uint8_t LinearAddress = 0x04;
constexpr std::uint8_t StartLinear = 0x05;
} // namespace Type

// Count, address (2), type and checksum around the data.
constexpr std::size_t Framing = 5;
constexpr std::size_t MaxRecordBytes = Framing + 255;
constexpr std::size_t BytesPerRecord = 16;
constexpr std::uint64_t AddressLimit = 0x100000000;

[[noreturn]] void Fail(std::uint64_t lineNumber, const std::string& problem)
{
    throw TImageError("line " + std::to_string(lineNumber), problem);
}

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(0x100 - (sum & 0xFF));
}

// Decodes one record into `raw` and checks its framing; gives the data length.
std::size_t DecodeRecord(std::string_view record, std::uint8_t* raw, std::uint64_t lineNumber)
{
    if (record[0] != ':')
        Fail(lineNumber, "record does not start with ':'");
    const std::string_view digits = record.substr(1);
    if (digits.size() > 2 * MaxRecordBytes)
        Fail(lineNumber, Format("record of %zu hex digits is longer than any record can be", digits.size()));
    const std::size_t count = DecodeHexDigits(digits, raw, lineNumber);
    if (count < Framing)
        Fail(lineNumber, Format("record of %zu bytes is too short", count));
    const std::size_t length = raw[0];
    if (count != Framing + length)
        Fail(lineNumber,
             Format("length byte 0x%02X does not match the record's %zu data bytes", raw[0], count - Framing));
    const std::uint8_t expected = Checksum(raw, count - 1);
    if (raw[count - 1] != expected)
        Fail(lineNumber, Format("bad checksum 0x%02X, expected 0x%02X", raw[count - 1], expected));
    return length;
}

void NeedLength(std::size_t length, std::size_t wanted, const char* what, std::uint64_t lineNumber)
{
    if (length != wanted)
        Fail(lineNumber, Format("%s record has %zu data bytes instead of %zu", what, length, wanted));
}

char* PutRecord(char* out, std::uint8_t type, std::uint16_t offset, const std::uint8_t* data, std::size_t length)
{
    *out++ = ':';
    const auto count = static_cast<std::uint8_t>(length);
    const auto high = static_cast<std::uint8_t>(offset >> 8);
    const auto low = static_cast<std::uint8_t>(offset);
    unsigned sum = count + high + low + type;
    PutHexByte(out, count);
    PutHexByte(out + 2, high);
    PutHexByte(out + 4, low);
    PutHexByte(out + 6, type);
    out += 8;
    for (std::size_t i = 0; i < length; ++i, out += 2) {
        sum += data[i];
        PutHexByte(out, data[i]);
    }
    PutHexByte(out, static_cast<std::uint8_t>(0x100 - (sum & 0xFF)));
    out[2] = '\n';
    return out + 3;
}

} // namespace

TImage ParseIntelHex(std::span<const std::uint8_t> text)
{
    TImageBuilder builder(TImageFormat::IntelHex);
    TRecordLines lines(text);
    std::string_view record;
    std::uint64_t lineNumber = 0;
    std::uint64_t upper = 0;
    bool ended = false;
    std::uint8_t raw[MaxRecordBytes];
    while (lines.Next(record, lineNumber)) {
        if (ended)
            Fail(lineNumber, "record after the end-of-file record");
        const std::size_t length = DecodeRecord(record, raw, lineNumber);
        const std::uint8_t* data = raw + 4;
        const auto offset = static_cast<std::uint16_t>(raw[1] << 8 | raw[2]);
        const auto value16 = [&] { return static_cast<std::uint64_t>(data[0] << 8 | data[1]); };
        switch (raw[3]) {
        case Type::Data: builder.Add(upper + offset, std::span(data, length), lineNumber); break;
        case Type::EndOfFile: ended = true; break;
        case Type::SegmentAddress:
            NeedLength(length, 2, "extended segment address", lineNumber);
            upper = value16() << 4;
            break;
        case Type::LinearAddress:
            NeedLength(length, 2, "extended linear address", lineNumber);
            upper = value16() << 16;
            break;
        case Type::StartSegment:
        case Type::StartLinear: NeedLength(length, 4, "start address", lineNumber); break;
        default: Fail(lineNumber, Format("record type %02X unknown", raw[3]));
        }
    }
    if (!ended)
        throw TImageError("", "truncated: no end-of-file record");
    return builder.Take();
}

std::string WriteIntelHex(std::span<const std::uint8_t> buffer, std::uint64_t base)
{
    const std::uint64_t size = buffer.size();
    if (base > AddressLimit || size > AddressLimit - base)
        throw TImageError("", Format("the image's end 0x%llX lies beyond the 4 GiB Intel HEX can address",
                                     static_cast<unsigned long long>(base + size)));
    // Sized once for the most records there can be: a full one is 44
    // characters, and every 64 KiB boundary may split one and adds an address
    // record.
    const std::size_t records = buffer.size() / BytesPerRecord + 2 * (buffer.size() / 0x10000) + 5;
    std::string text(records * (1 + 2 * (Framing + BytesPerRecord) + 1), '\0');
    char* out = text.data();
    std::uint64_t upper = 0;
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::uint64_t address = base + done;
        if (address >> 16 != upper) {
            upper = address >> 16;
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)};
            out = PutRecord(out, Type::LinearAddress, 0, value, 2);
        }
        const std::size_t length = static_cast<std::size_t>(
            std::min<std::uint64_t>({BytesPerRecord, buffer.size() - done, 0x10000 - (address & 0xFFFF)}));
        out = PutRecord(out, Type::Data, static_cast<std::uint16_t>(address), buffer.data() + done, length);
        done += length;
    }
    out = PutRecord(out, Type::EndOfFile, 0, nullptr, 0);
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

} // namespace lindprog
