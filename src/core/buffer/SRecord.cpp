#include "core/buffer/SRecord.h"

#include "core/base/TextFormat.h"

#include <algorithm>
#include <cstddef>

namespace lindprog {
namespace {

// The count byte says how many bytes follow it, 255 at most.
constexpr std::size_t MaxRecordBytes = 1 + 255;
constexpr std::size_t BytesPerRecord = 32;
constexpr std::uint64_t AddressLimit = 0x100000000;

// The address length of each record type; 0 for the type nobody defines (S4).
constexpr std::size_t AddressLength[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

[[noreturn]] void Fail(std::uint64_t lineNumber, const std::string& problem)
{
    throw TImageError("line " + std::to_string(lineNumber), problem);
}

unsigned long long Ull(std::uint64_t value)
{
    return static_cast<unsigned long long>(value);
}

std::uint8_t Checksum(const std::uint8_t* bytes, std::size_t count)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < count; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(~sum);
}

// Checks the record's framing and decodes it into `raw` (the count byte
// first); gives the type digit.
int DecodeRecord(std::string_view record, std::uint8_t* raw, std::size_t& count, std::uint64_t lineNumber)
{
    if (record.size() < 2 || record[0] != 'S' || record[1] < '0' || record[1] > '9')
        Fail(lineNumber, "record does not start with 'S' and a type digit");
    const int type = record[1] - '0';
    if (AddressLength[type] == 0)
        Fail(lineNumber, Format("record type S%d unknown", type));
    const std::string_view digits = record.substr(2);
    if (digits.size() > 2 * MaxRecordBytes)
        Fail(lineNumber, Format("record of %zu hex digits is longer than any record can be", digits.size()));
    count = DecodeHexDigits(digits, raw, lineNumber);
    if (count == 0 || count != std::size_t{raw[0]} + 1)
        Fail(lineNumber, Format("count byte 0x%02X does not match the record's %zu bytes after it", count ? raw[0] : 0u,
                                count ? count - 1 : 0));
    if (count < 1 + AddressLength[type] + 1)
        Fail(lineNumber, Format("record too short for its %zu-byte address", AddressLength[type]));
    const std::uint8_t expected = Checksum(raw, count - 1);
    if (raw[count - 1] != expected)
        Fail(lineNumber, Format("bad checksum 0x%02X, expected 0x%02X", raw[count - 1], expected));
    return type;
}

char* PutRecord(char* out, char type, std::uint64_t address, std::size_t addressLength, const std::uint8_t* data,
                std::size_t length)
{
    out[0] = 'S';
    out[1] = type;
    const auto count = static_cast<std::uint8_t>(addressLength + length + 1);
    unsigned sum = count;
    PutHexByte(out + 2, count);
    out += 4;
    for (std::size_t i = addressLength; i-- > 0; out += 2) {
        const auto byte = static_cast<std::uint8_t>(address >> (8 * i));
        sum += byte;
        PutHexByte(out, byte);
    }
    for (std::size_t i = 0; i < length; ++i, out += 2) {
        sum += data[i];
        PutHexByte(out, data[i]);
    }
    PutHexByte(out, static_cast<std::uint8_t>(~sum));
    out[2] = '\n';
    return out + 3;
}

} // namespace

TImage ParseSRecord(std::span<const std::uint8_t> text)
{
    TImageBuilder builder(TImageFormat::SRecord);
    TRecordLines lines(text);
    std::string_view record;
    std::uint64_t lineNumber = 0;
    std::uint64_t dataRecords = 0;
    bool ended = false;
    bool counted = false;
    std::uint8_t raw[MaxRecordBytes];
    while (lines.Next(record, lineNumber)) {
        if (ended)
            Fail(lineNumber, "record after the termination record");
        std::size_t count = 0;
        const int type = DecodeRecord(record, raw, count, lineNumber);
        const std::size_t addressLength = AddressLength[type];
        std::uint64_t address = 0;
        for (std::size_t i = 0; i < addressLength; ++i)
            address = address << 8 | raw[1 + i];
        const std::uint8_t* data = raw + 1 + addressLength;
        const std::size_t length = count - addressLength - 2;
        counted = type == 5 || type == 6;
        switch (type) {
        case 1:
        case 2:
        case 3:
            builder.Add(address, std::span(data, length), lineNumber);
            ++dataRecords;
            break;
        case 5:
        case 6:
            if (address != dataRecords)
                Fail(lineNumber,
                     Format("record count %llu, but %llu data records before it", Ull(address), Ull(dataRecords)));
            break;
        case 7:
        case 8:
        case 9: ended = true; break;
        default: break; // S0, the header: a name for people, nothing to load.
        }
    }
    // srec_cat ends a file without a start address on its count record; that
    // still proves the file whole, as the count was checked.
    if (!ended && !counted)
        throw TImageError("", "truncated: no termination record (S7, S8 or S9) and no record count at the end");
    return builder.Take();
}

std::string WriteSRecord(std::span<const std::uint8_t> buffer, std::uint64_t base)
{
    const std::uint64_t size = buffer.size();
    if (base > AddressLimit || size > AddressLimit - base)
        throw TImageError(
            "", Format("the image's end 0x%llX lies beyond the 4 GiB S-records can address", Ull(base + size)));
    const std::uint64_t highest = size ? base + size - 1 : base;
    const std::size_t addressLength = highest <= 0xFFFF ? 2 : highest <= 0xFFFFFF ? 3 : 4;
    const auto dataType = static_cast<char>('1' + addressLength - 2);
    const auto endType = static_cast<char>('9' - (addressLength - 2));
    const std::size_t records = (buffer.size() + BytesPerRecord - 1) / BytesPerRecord;
    // Sized once for the most the file can take: every record as long as a
    // full data record.
    const std::size_t longest = 2 + 2 * (1 + addressLength + BytesPerRecord + 1) + 1;
    std::string text((records + 3) * longest, '\0');
    char* out = PutRecord(text.data(), '0', 0, 2, nullptr, 0);
    for (std::size_t done = 0; done < buffer.size(); done += BytesPerRecord) {
        const std::size_t length = std::min(BytesPerRecord, buffer.size() - done);
        out = PutRecord(out, dataType, base + done, addressLength, buffer.data() + done, length);
    }
    if (records <= 0xFFFF)
        out = PutRecord(out, '5', records, 2, nullptr, 0);
    else if (records <= 0xFFFFFF)
        out = PutRecord(out, '6', records, 3, nullptr, 0);
    out = PutRecord(out, endType, 0, addressLength, nullptr, 0);
    text.resize(static_cast<std::size_t>(out - text.data()));
    return text;
}

} // namespace lindprog
