#include "core/link/AdapterCommands.h"

#include "core/base/AdapterText.h"
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

std::string ReadReplyText(std::span<const std::uint8_t> data)
{
    const auto end = std::find(data.begin(), data.end(), std::uint8_t{0});
    return AdapterTextToUtf8(data.first(static_cast<std::size_t>(end - data.begin())));
}

std::uint8_t ParseModeReply(std::span<const std::uint8_t> data)
{
    return data.size() < ModeReplySize ? 0 : data[0];
}

TVersionReply ParseVersionReply(std::span<const std::uint8_t> data)
{
    if (data.size() < VersionReplySize)
        return {};
    return {data[0], data[1]};
}

std::string ParseKeyReply(std::span<const std::uint8_t> data)
{
    if (data.size() < KeyReplySize)
        return {};
    char text[9];
    std::snprintf(text, sizeof text, "%.08X", GetU32LE(data, 0));
    return text;
}

TStartOperationReply ParseStartOperationReply(std::span<const std::uint8_t> data)
{
    // Fields the reply does not reach read as zero and as no text.
    TStartOperationReply reply;
    for (std::size_t i = 0; i < reply.Values.size() && 4 * i + 4 <= data.size(); ++i)
        reply.Values[i] = GetU32LE(data, 4 * i);
    const std::string text =
        data.size() > StartOperationValuesSize ? ReadReplyText(data.subspan(StartOperationValuesSize)) : std::string();
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

constexpr std::size_t MaxJtagIds = 10;

std::size_t ListedJtagIds(std::uint32_t deviceCount)
{
    return std::min<std::size_t>(deviceCount, MaxJtagIds);
}

} // namespace

std::size_t JtagScanReplySize(std::span<const std::uint8_t> data)
{
    if (data.size() < JtagScanHeadSize)
        return JtagScanHeadSize;
    return JtagScanHeadSize + 4 * ListedJtagIds(GetU32LE(data, 0));
}

TJtagScanReply ParseJtagScanReply(std::span<const std::uint8_t> data)
{
    TJtagScanReply reply;
    if (data.size() < JtagScanHeadSize)
        return reply;
    reply.DeviceCount = GetU32LE(data, 0);
    reply.IrLength = GetU32LE(data, 4);
    // At most ten IDs, and no more than the reply carries.
    const std::size_t listed = std::min(ListedJtagIds(reply.DeviceCount), (data.size() - JtagScanHeadSize) / 4);
    for (std::size_t k = 0; k < listed; ++k)
        reply.Ids.push_back(GetU32LE(data, JtagScanHeadSize + 4 * k));
    return reply;
}

TBootloaderArea ParseBootloaderArea(std::span<const std::uint8_t> data)
{
    if (data.size() < BootloaderAreaSize)
        return {};
    return {GetU32LE(data, 0), GetU32LE(data, 4), GetU16LE(data, 8)};
}

} // namespace lindprog
