#include "FlashSession.h"

#include "Wire.h"

#include <algorithm>

namespace lindprog::sim {

namespace {

constexpr std::size_t BlockHeader = 6; // offset u32, count u16

std::uint32_t FlagNeeded(std::uint8_t operation)
{
    switch (operation) {
    case OpWrite: return FlagWrite;
    case OpErase: return FlagErase;
    case OpUnlock: return FlagUnlock;
    default: return FlagRead;
    }
}

} // namespace

TFlashSession::TFlashSession(const TScenario& scenario)
    : FlashMemory(scenario.Devices), StartSpec(scenario.StartOperation), EraseNotReady(scenario.EraseNotReady),
      UnlockNotReady(scenario.UnlockNotReady)
{
}

void TFlashSession::Close()
{
    Selection.reset();
    NotReadyLeft = 0;
}

void TFlashSession::FreshTarget(const std::vector<TDeviceSpec>& devices)
{
    Close();
    FlashMemory = TFlash(devices);
}

std::optional<std::uint8_t> TFlashSession::CheckStart(std::span<const std::uint8_t> params) const
{
    if (params.size() != StartOperationParams)
        return StatusBadPacketSize;
    const std::size_t device = params[0];
    const std::size_t region = params[1];
    const std::uint8_t operation = params[2];
    const std::uint8_t voltage = params[7];
    if (!FlashMemory.Exists(device, region) || operation > OpUnlock)
        return StatusBadParameter;
    if (voltage < 1 || voltage > 3)
        return StatusBadParameter;
    // The adapter refuses what the region cannot do, e.g. erasing a shadow row.
    if ((FlashMemory.Region(device, region).Flags & FlagNeeded(operation)) == 0) {
        return StatusBadParameter;
    }
    return std::nullopt;
}

std::uint8_t TFlashSession::StartStatus(std::uint8_t operation) const
{
    const auto it = StartSpec.StatusByOperation.find(operation);
    return it != StartSpec.StatusByOperation.end() ? it->second : StartSpec.Status;
}

TReply TFlashSession::StartedReply() const
{
    TReply reply;
    for (const std::uint32_t value : StartSpec.Values)
        AppendU32(reply.Data, value);
    AppendText(reply.Data, StartSpec.Info);
    return reply;
}

TReply TFlashSession::StartOperation(std::span<const std::uint8_t> params)
{
    Close();
    if (const auto failure = CheckStart(params))
        return StatusOnly(*failure);
    const std::uint8_t operation = params[2];
    const std::uint8_t status = StartStatus(operation);
    // "Device locked" is only a warning: the operation is set up all the same.
    // A refusal still explains itself in the reply's text, as the adapter does.
    if (status != StatusOk && status != StatusDeviceLocked) {
        TReply refusal = StartedReply();
        refusal.Status = status;
        return refusal;
    }
    Selection = TSelection{params[0], params[1], operation};
    NotReadyLeft = operation == OpErase ? EraseNotReady : operation == OpUnlock ? UnlockNotReady : 0;
    TReply reply = StartedReply();
    reply.Status = status;
    return reply;
}

std::optional<std::uint8_t> TFlashSession::CheckBlock(std::span<const std::uint8_t> params, bool withData,
                                                      std::size_t maxCount, TBlock& block) const
{
    if (params.size() < BlockHeader)
        return StatusBadPacketSize;
    block.Offset = ReadU32(params, 0);
    block.Count = ReadU16(params, 4);
    const std::size_t expected = BlockHeader + (withData ? block.Count : 0);
    if (params.size() != expected)
        return StatusBadPacketSize;
    if (!Selection)
        return StatusDeviceNotOpen;
    if (block.Count == 0 || block.Count > maxCount)
        return StatusBadParameter;
    if (!FlashMemory.InRange(Selection->Device, Selection->Region, block.Offset, block.Count)) {
        return StatusBadParameter;
    }
    block.Data = params.subspan(BlockHeader);
    return std::nullopt;
}

TReply TFlashSession::ReadBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, false, MaxReadCount, block)) {
        return StatusOnly(*failure);
    }
    const auto& [device, region, operation] = *Selection;
    if (const auto error = FlashMemory.TakeReadError(device, region, block.Offset, block.Count)) {
        return TReply{!error->NoAnswer, error->Status, {}};
    }
    const auto bytes = FlashMemory.Bytes(device, region).subspan(block.Offset, block.Count);
    return TReply{true, StatusOk, {bytes.begin(), bytes.end()}};
}

TReply TFlashSession::WriteBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, true, MaxPayload, block)) {
        return StatusOnly(*failure);
    }
    auto target = FlashMemory.Bytes(Selection->Device, Selection->Region).subspan(block.Offset);
    std::copy(block.Data.begin(), block.Data.end(), target.begin());
    return StatusOnly(StatusOk);
}

TReply TFlashSession::VerifyBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, true, MaxPayload, block)) {
        return StatusOnly(*failure);
    }
    const auto stored = FlashMemory.Bytes(Selection->Device, Selection->Region).subspan(block.Offset, block.Count);
    const bool same = std::equal(stored.begin(), stored.end(), block.Data.begin());
    return StatusOnly(same ? StatusOk : StatusCompareError);
}

TReply TFlashSession::BlankCheckBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, false, MaxPayload, block)) {
        return StatusOnly(*failure);
    }
    const auto stored = FlashMemory.Bytes(Selection->Device, Selection->Region).subspan(block.Offset, block.Count);
    const bool blank = std::all_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b == Erased; });
    return StatusOnly(blank ? StatusOk : StatusNotBlank);
}

TReply TFlashSession::Step(std::span<const std::uint8_t> params, std::uint8_t operation)
{
    if (!params.empty())
        return StatusOnly(StatusBadPacketSize);
    // Stepping an erase the host never set up would wipe the wrong thing.
    if (!Selection || Selection->Operation != operation)
        return StatusOnly(StatusDeviceNotOpen);
    if (NotReadyLeft > 0) {
        --NotReadyLeft;
        return StatusOnly(StatusNotReady);
    }
    if (operation == OpErase) {
        FlashMemory.Erase(Selection->Device, Selection->Region);
    } else {
        FlashMemory.EraseDevice(Selection->Device);
    }
    return StatusOnly(StatusOk);
}

TReply TFlashSession::EraseStep(std::span<const std::uint8_t> params)
{
    return Step(params, OpErase);
}

TReply TFlashSession::UnlockStep(std::span<const std::uint8_t> params)
{
    return Step(params, OpUnlock);
}

} // namespace lindprog::sim
