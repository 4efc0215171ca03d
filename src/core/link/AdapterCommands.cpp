#include "core/link/AdapterCommands.h"

#include "core/base/LittleEndian.h"

#include <algorithm>
#include <cstdio>

namespace lindprog {

std::array<std::uint8_t, BlockHeadSize> BuildBlockHead(std::uint8_t code, std::uint32_t offset, std::uint16_t count)
{
    std::array<std::uint8_t, BlockHeadSize> head{};
    head[0] = code;
    PutU32LE(head, 1, offset);
    PutU16LE(head, 5, count);
    return head;
}

std::array<std::uint8_t, StartOperationSize> BuildStartOperation(std::uint8_t deviceIndex, std::uint8_t regionIndex,
                                                                 TOperation operation, std::int32_t jtagDelay,
                                                                 std::uint8_t voltageCode)
{
    std::array<std::uint8_t, StartOperationSize> payload{}; // bytes 9..72 stay zero
    payload[0] = Cmd::StartOperation;
    payload[1] = deviceIndex;
    payload[2] = regionIndex;
    payload[3] = static_cast<std::uint8_t>(operation);
    PutU32LE(payload, 4, static_cast<std::uint32_t>(jtagDelay));
    payload[8] = voltageCode;
    return payload;
}

std::vector<std::uint8_t> BuildProgramPage(std::span<const std::uint8_t> pageRecord)
{
    std::vector<std::uint8_t> request;
    request.reserve(1 + pageRecord.size());
    request.push_back(Cmd::ProgramPage);
    request.insert(request.end(), pageRecord.begin(), pageRecord.end());
    return request;
}

std::string TGetKey::Parse(std::span<const std::uint8_t> data) const
{
    char text[9];
    std::snprintf(text, sizeof text, "%.08X", GetU32LE(data, 0));
    return text;
}

TDeviceRecord TGetDeviceRecord::Parse(std::span<const std::uint8_t> data) const
{
    TDeviceRecord record;
    std::copy_n(data.begin(), record.size(), record.begin());
    return record;
}

TRegionRecord TGetRegionRecord::Parse(std::span<const std::uint8_t> data) const
{
    TRegionRecord record;
    std::copy_n(data.begin(), record.size(), record.begin());
    return record;
}

TStartOperationReply ParseStartOperationReply(std::span<const std::uint8_t> data)
{
    TStartOperationReply reply;
    for (std::size_t i = 0; i < reply.Values.size() && StartReply::Value(i).End() <= data.size(); ++i)
        reply.Values[i] = StartReply::Value(i).From(data);
    const std::string text =
        data.size() > StartReply::TextOffset ? ReadReplyText(data.subspan(StartReply::TextOffset)) : std::string();
    if (text.empty())
        return reply;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        reply.InfoLines.push_back(text.substr(start, bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    return reply;
}

std::string FormatJtagDetect(const TStartOperationReply& reply)
{
    char line[96];
    std::snprintf(line, sizeof line, "JTAG/Nexus detect: %d/%d/%.08X/%.08X", static_cast<int>(reply.Values[0]),
                  static_cast<int>(reply.Values[1]), reply.Values[2], reply.Values[3]);
    return line;
}

namespace {

std::size_t ListedJtagIds(std::uint32_t deviceCount)
{
    return std::min<std::size_t>(deviceCount, JtagScanReply::MaxIds);
}

} // namespace

std::size_t TJtagScan::ReplySize(std::span<const std::uint8_t> data) const
{
    if (data.size() < JtagScanHeadSize)
        return JtagScanHeadSize;
    return JtagScanReply::Id(ListedJtagIds(JtagScanReply::DeviceCount.From(data))).Offset;
}

TJtagScanReply TJtagScan::Parse(std::span<const std::uint8_t> data) const
{
    TJtagScanReply reply{JtagScanReply::DeviceCount.From(data), JtagScanReply::IrLength.From(data), {}};
    for (std::size_t k = 0; k < ListedJtagIds(reply.DeviceCount); ++k)
        reply.Ids.push_back(JtagScanReply::Id(k).From(data));
    return reply;
}

TBootloaderArea TEnterBootloader::Parse(std::span<const std::uint8_t> data) const
{
    return {BootloaderReply::Start.From(data), BootloaderReply::End.From(data), BootloaderReply::PageSize.From(data)};
}

} // namespace lindprog
