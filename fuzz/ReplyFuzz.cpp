// The typed replies: the checked parser of every command that reads a reply,
// at every length. The first input byte picks the command, the rest is the
// data the reply carried. libFuzzer hands the input in a block of exactly its
// size, so AddressSanitizer catches a reader that looks one byte past what
// the reply carried.
//
// Rules beyond that: a reply shorter than its command reads fails with
// BadReplyLength and reads nothing (the start reply reads what it carried);
// adapter texts come out as valid UTF-8 with one character per byte taken, up
// to the first zero; the start reply's lines joined with '|' are its text,
// also when the adapter refused; a JTAG scan lists min(count, 10) IDs.

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

// An accepted reply: read whole when it carried `needed` bytes, otherwise
// failed with nothing read.
template <typename TCommand>
TReply<typename TCommand::TValue> CheckAccepted(const TCommand& command, TData data)
{
    const auto reply = CheckReply(command, PortStatus::Ok, data);
    const bool whole = data.size() >= command.ReplySize(data);
    Expect(reply.Status == (whole ? PortStatus::Ok : PortStatus::BadReplyLength), "short exactly when too few bytes");
    Expect(whole || reply.Value == typename TCommand::TValue{}, "nothing read from a short reply");
    return reply;
}

void CheckShortReplies(std::uint8_t which, TData data)
{
    switch (which) {
    case 0: {
        const auto mode = CheckAccepted(TGetMode{}, data);
        Expect(!mode.Ok() || mode.Value == data[0], "the mode byte");
        break;
    }
    case 1: {
        const auto identity = CheckAccepted(TGetIdentity{}, data);
        ExpectText(identity.Value, data, data.size());
        break;
    }
    case 2: {
        const auto version = CheckAccepted(TGetVersion{}, data);
        Expect(!version.Ok() || (version.Value.Major == data[0] && version.Value.Minor == data[1]), "version bytes");
        break;
    }
    default: {
        const auto key = CheckAccepted(TGetKey{}, data);
        if (!key.Ok())
            break;
        Expect(key.Value.size() == 8 && key.Value.find_first_not_of("0123456789ABCDEF") == std::string::npos,
               "eight upper-case hex digits");
        Expect(std::stoul(key.Value, nullptr, 16) == GetU32LE(data, 0), "the key is the little-endian value");
        break;
    }
    }
}

// A record read from a whole reply is its first bytes, unchanged.
template <std::size_t Size>
void ExpectRecord(const std::array<std::uint8_t, Size>& raw, TData data)
{
    Expect(data.size() < Size || std::equal(raw.begin(), raw.end(), data.begin()), "the record is the carried bytes");
}

void CheckRecords(std::uint8_t which, TData data)
{
    if (which == 4) {
        const TDeviceInfo device{CheckAccepted(TGetDeviceRecord{}, data).Value};
        ExpectRecord(device.Raw, data);
        ExpectText(device.Name(), device.Raw, RecordNameSize);
        Expect(VoltageEntries(device.Voltages()).size() <= 3, "at most three voltages");
        return;
    }
    const TRegionInfo region{CheckAccepted(TGetRegionRecord{}, data).Value};
    ExpectRecord(region.Raw, data);
    ExpectText(region.Name(), region.Raw, RecordNameSize);
}

void CheckStartReply(TData data)
{
    const TData textBytes = data.size() > StartReply::TextOffset ? data.subspan(StartReply::TextOffset) : TData();
    const std::string text = ReadReplyText(textBytes);
    ExpectText(text, textBytes, textBytes.size());
    // Accepted or refused, the reply gives what it carried.
    for (const std::uint8_t status : {PortStatus::Ok, PortStatus::DeviceLocked}) {
        const auto reply = CheckReply(TStartOperation{}, status, data);
        const bool whole = data.size() >= StartOperationValuesSize;
        Expect(reply.Status == (status == PortStatus::Ok && !whole ? PortStatus::BadReplyLength : status),
               "short only when accepted without its four values");
        for (std::size_t i = 0; i < reply.Value.Values.size(); ++i) {
            const auto field = StartReply::Value(i);
            Expect(reply.Value.Values[i] == (field.End() <= data.size() ? field.From(data) : 0), "value, or zero");
        }
        std::string joined;
        for (std::size_t i = 0; i < reply.Value.InfoLines.size(); ++i)
            joined += (i ? "|" : "") + reply.Value.InfoLines[i];
        Expect(joined == text, "the lines joined with '|' are the text");
        Expect(text.empty() == reply.Value.InfoLines.empty(), "no lines exactly when there is no text");
        const std::string detect = FormatJtagDetect(reply.Value);
        Expect(detect.rfind("JTAG/Nexus detect: ", 0) == 0 && detect.size() <= 19 + 11 + 1 + 11 + 1 + 8 + 1 + 8,
               "the detect line holds all four values");
    }
}

void CheckJtagScan(TData data)
{
    const std::size_t needed = TJtagScan{}.ReplySize(data);
    Expect(needed >= JtagScanHeadSize && needed <= JtagScanHeadSize + 40, "a head and at most ten IDs");
    const auto scan = CheckAccepted(TJtagScan{}, data);
    if (!scan.Ok())
        return;
    Expect(scan.Value.Ids.size() == std::min<std::size_t>(scan.Value.DeviceCount, 10), "every listed ID");
    for (std::size_t k = 0; k < scan.Value.Ids.size(); ++k)
        Expect(scan.Value.Ids[k] == GetU32LE(data, JtagScanHeadSize + 4 * k), "IDs in order");
}

void CheckBootloaderArea(TData data)
{
    const auto area = CheckAccepted(TEnterBootloader{}, data);
    Expect(!area.Ok() || (area.Value.Start == GetU32LE(data, 0) && area.Value.End == GetU32LE(data, 4) &&
                          area.Value.PageSize == GetU16LE(data, 8)),
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
