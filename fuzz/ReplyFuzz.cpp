// The typed replies: every reader of a reply's data, at every length. The
// first input byte picks the reader, the rest is the data the reply carried.
// libFuzzer hands the input in a block of exactly its size, so AddressSanitizer
// catches a reader that looks one byte past what the reply carried.
//
// Rules beyond that: a field the data does not reach reads as zero or empty;
// adapter texts come out as valid UTF-8 with one character per byte taken, up
// to the first zero; the start reply's lines joined with '|' are its text; a
// JTAG scan lists min(count, 10) IDs when the data is as long as
// JtagScanReplySize asks, and never more than the data holds.

#include "core/base/LittleEndian.h"
#include "core/link/AdapterCommands.h"
#include "core/ops/Catalogue.h"
#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace lindprog::fuzz {
namespace {

using TData = std::span<const std::uint8_t>;

// Code points in well-formed UTF-8 (no overlong forms, no surrogates, at most
// U+10FFFF); -1 for anything else.
long CountUtf8(std::string_view text)
{
    long count = 0;
    for (std::size_t at = 0; at < text.size(); ++count) {
        const auto lead = static_cast<unsigned char>(text[at]);
        std::size_t extra = 0;
        char32_t point = lead;
        if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            point = lead & 0x07;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            point = lead & 0x0F;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            point = lead & 0x1F;
        } else if (lead >= 0x80) {
            return -1;
        }
        if (text.size() - at <= extra)
            return -1;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[at + k]);
            if ((next & 0xC0) != 0x80)
                return -1;
            point = point << 6 | (next & 0x3F);
        }
        constexpr char32_t Least[] = {0, 0x80, 0x800, 0x10000};
        if (point < Least[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            return -1;
        at += extra + 1;
    }
    return count;
}

// An adapter text read from `source`: every byte before the first zero (at
// most `limit` of them) is one character, and none is a zero.
void ExpectText(const std::string& text, TData source, std::size_t limit)
{
    const TData taken = source.first(std::min(source.size(), limit));
    const auto end = std::find(taken.begin(), taken.end(), std::uint8_t{0});
    Expect(CountUtf8(text) == end - taken.begin(), "one UTF-8 character per adapter byte before the zero");
    Expect(text.find('\0') == std::string::npos, "no zero inside a text");
}

void CheckShortReplies(std::uint8_t which, TData data)
{
    switch (which) {
    case 0: {
        const std::uint8_t mode = ParseModeReply(data);
        Expect(mode == (data.size() >= ModeReplySize ? data[0] : 0), "mode byte, or zero");
        break;
    }
    case 1: ExpectText(ReadReplyText(data), data, data.size()); break;
    case 2: {
        const TVersionReply version = ParseVersionReply(data);
        const bool carried = data.size() >= VersionReplySize;
        Expect(version.Major == (carried ? data[0] : 0) && version.Minor == (carried ? data[1] : 0),
               "version bytes, or zeros");
        break;
    }
    default: {
        const std::string key = ParseKeyReply(data);
        if (data.size() < KeyReplySize) {
            Expect(key.empty(), "no key from a short reply");
            break;
        }
        Expect(key.size() == 8 && key.find_first_not_of("0123456789ABCDEF") == std::string::npos,
               "eight upper-case hex digits");
        Expect(std::stoul(key, nullptr, 16) == GetU32LE(data, 0), "the key is the little-endian value");
        break;
    }
    }
}

// A record keeps what the reply carried, zero after it, and never more.
template <std::size_t Size>
void ExpectRecord(const std::array<std::uint8_t, Size>& raw, TData data)
{
    const std::size_t carried = std::min(Size, data.size());
    Expect(std::equal(raw.begin(), raw.begin() + static_cast<std::ptrdiff_t>(carried), data.begin()) &&
               std::all_of(raw.begin() + static_cast<std::ptrdiff_t>(carried), raw.end(),
                           [](std::uint8_t byte) { return byte == 0; }),
           "the record is the carried bytes, zero after them");
}

void CheckRecords(std::uint8_t which, TData data)
{
    if (which == 4) {
        const TDeviceInfo device = TDeviceInfo::FromReply(data);
        ExpectRecord(device.Raw, data);
        ExpectText(device.Name(), data, RecordNameSize);
        Expect(VoltageEntries(device.Voltages()).size() <= 3, "at most three voltages");
        if (data.size() <= 72)
            Expect(device.RegionCount() == 0, "a region count the reply did not reach reads as zero");
        return;
    }
    const TRegionInfo region = TRegionInfo::FromReply(data);
    ExpectRecord(region.Raw, data);
    ExpectText(region.Name(), data, RecordNameSize);
    if (data.size() <= 64)
        Expect(region.Flags() == 0 && region.Size() == 0, "fields the reply did not reach read as zero");
}

void CheckStartReply(TData data)
{
    const TStartOperationReply reply = ParseStartOperationReply(data);
    for (std::size_t i = 0; i < reply.Values.size(); ++i)
        Expect(reply.Values[i] == (4 * i + 4 <= data.size() ? GetU32LE(data, 4 * i) : 0), "value, or zero");
    const TData textBytes = data.size() > StartOperationValuesSize ? data.subspan(StartOperationValuesSize) : TData();
    const std::string text = ReadReplyText(textBytes);
    ExpectText(text, textBytes, textBytes.size());
    std::string joined;
    for (std::size_t i = 0; i < reply.InfoLines.size(); ++i)
        joined += (i ? "|" : "") + reply.InfoLines[i];
    Expect(joined == text, "the lines joined with '|' are the text");
    Expect(text.empty() == reply.InfoLines.empty(), "no lines exactly when there is no text");
    const std::string detect = FormatJtagDetect(reply);
    Expect(detect.rfind("JTAG/Nexus detect: ", 0) == 0 && detect.size() <= 19 + 11 + 1 + 11 + 1 + 8 + 1 + 8,
           "the detect line holds all four values");
}

void CheckJtagScan(TData data)
{
    const std::size_t needed = JtagScanReplySize(data);
    const TJtagScanReply reply = ParseJtagScanReply(data);
    Expect(needed >= JtagScanHeadSize && needed <= JtagScanHeadSize + 40, "a head and at most ten IDs");
    Expect(reply.Ids.size() <= 10, "at most ten IDs");
    if (data.size() < JtagScanHeadSize) {
        Expect(reply.DeviceCount == 0 && reply.Ids.empty(), "nothing from a reply without its head");
        return;
    }
    Expect(reply.Ids.size() <= (data.size() - JtagScanHeadSize) / 4, "no ID the reply did not carry");
    if (data.size() >= needed)
        Expect(reply.Ids.size() == std::min<std::size_t>(reply.DeviceCount, 10), "every listed ID");
    for (std::size_t k = 0; k < reply.Ids.size(); ++k)
        Expect(reply.Ids[k] == GetU32LE(data, JtagScanHeadSize + 4 * k), "IDs in order");
}

void CheckBootloaderArea(TData data)
{
    const TBootloaderArea area = ParseBootloaderArea(data);
    if (data.size() < BootloaderAreaSize) {
        Expect(area.Start == 0 && area.End == 0 && area.PageSize == 0, "a short area reads as zeros");
        return;
    }
    Expect(area.Start == GetU32LE(data, 0) && area.End == GetU32LE(data, 4) && area.PageSize == GetU16LE(data, 8),
           "start, end, page size");
}

} // namespace
} // namespace lindprog::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace lindprog::fuzz;
    if (size == 0)
        return 0;
    const std::uint8_t which = data[0] % 9;
    const TData reply(data + 1, size - 1);
    if (which < 4)
        CheckShortReplies(which, reply);
    else if (which < 6)
        CheckRecords(which, reply);
    else if (which == 6)
        CheckStartReply(reply);
    else if (which == 7)
        CheckJtagScan(reply);
    else
        CheckBootloaderArea(reply);
    return 0;
}
