#include "FlashSession.h"

#include <algorithm>

#include "Wire.h"

namespace lindprog::sim {

namespace {

constexpr std::size_t kBlockHeader = 6; // offset u32, count u16

std::uint32_t FlagNeeded(std::uint8_t operation)
{
    switch (operation) {
    case kOpWrite:
        return kFlagWrite;
    case kOpErase:
        return kFlagErase;
    case kOpUnlock:
        return kFlagUnlock;
    default:
        return kFlagRead;
    }
}

} // namespace

TFlashSession::TFlashSession(const TScenario& scenario)
    : flash_(scenario.devices)
    , start_(scenario.start_operation)
    , erase_not_ready_(scenario.erase_not_ready)
    , unlock_not_ready_(scenario.unlock_not_ready)
{
}

void TFlashSession::Close()
{
    selection_.reset();
    not_ready_left_ = 0;
}

std::optional<std::uint8_t> TFlashSession::CheckStart(std::span<const std::uint8_t> params) const
{
    if (params.size() != kStartOperationParams)
        return kStatusBadPacketSize;
    const std::size_t device = params[0];
    const std::size_t region = params[1];
    const std::uint8_t operation = params[2];
    const std::uint8_t voltage = params[7];
    if (!flash_.Exists(device, region) || operation > kOpUnlock)
        return kStatusBadParameter;
    if (voltage < 1 || voltage > 3)
        return kStatusBadParameter;
    // The adapter refuses what the region cannot do, e.g. erasing a shadow row.
    if ((flash_.Region(device, region).flags & FlagNeeded(operation)) == 0) {
        return kStatusBadParameter;
    }
    return std::nullopt;
}

std::uint8_t TFlashSession::StartStatus(std::uint8_t operation) const
{
    const auto it = start_.status_by_operation.find(operation);
    return it != start_.status_by_operation.end() ? it->second : start_.status;
}

TReply TFlashSession::StartedReply() const
{
    TReply reply;
    for (const std::uint32_t value : start_.values)
        AppendU32(reply.data, value);
    AppendText(reply.data, start_.info);
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
    if (status != kStatusOk && status != kStatusDeviceLocked) {
        TReply refusal = StartedReply();
        refusal.status = status;
        return refusal;
    }
    selection_ = TSelection{params[0], params[1], operation};
    not_ready_left_ = operation == kOpErase ? erase_not_ready_
        : operation == kOpUnlock            ? unlock_not_ready_
                                            : 0;
    TReply reply = StartedReply();
    reply.status = status;
    return reply;
}

std::optional<std::uint8_t> TFlashSession::CheckBlock(std::span<const std::uint8_t> params,
    bool with_data, std::size_t max_count, TBlock& block) const
{
    if (params.size() < kBlockHeader)
        return kStatusBadPacketSize;
    block.offset = ReadU32(params, 0);
    block.count = ReadU16(params, 4);
    const std::size_t expected = kBlockHeader + (with_data ? block.count : 0);
    if (params.size() != expected)
        return kStatusBadPacketSize;
    if (!selection_)
        return kStatusDeviceNotOpen;
    if (block.count == 0 || block.count > max_count)
        return kStatusBadParameter;
    if (!flash_.InRange(selection_->device, selection_->region, block.offset, block.count)) {
        return kStatusBadParameter;
    }
    block.data = params.subspan(kBlockHeader);
    return std::nullopt;
}

TReply TFlashSession::ReadBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, false, kMaxReadCount, block)) {
        return StatusOnly(*failure);
    }
    const auto& [device, region, operation] = *selection_;
    if (const auto error = flash_.TakeReadError(device, region, block.offset, block.count)) {
        return TReply{!error->no_answer, error->status, {}};
    }
    const auto bytes = flash_.Bytes(device, region).subspan(block.offset, block.count);
    return TReply{true, kStatusOk, {bytes.begin(), bytes.end()}};
}

TReply TFlashSession::WriteBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, true, kMaxPayload, block)) {
        return StatusOnly(*failure);
    }
    auto target = flash_.Bytes(selection_->device, selection_->region).subspan(block.offset);
    std::copy(block.data.begin(), block.data.end(), target.begin());
    return StatusOnly(kStatusOk);
}

TReply TFlashSession::VerifyBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, true, kMaxPayload, block)) {
        return StatusOnly(*failure);
    }
    const auto stored
        = flash_.Bytes(selection_->device, selection_->region).subspan(block.offset, block.count);
    const bool same = std::equal(stored.begin(), stored.end(), block.data.begin());
    return StatusOnly(same ? kStatusOk : kStatusCompareError);
}

TReply TFlashSession::BlankCheckBlock(std::span<const std::uint8_t> params)
{
    TBlock block;
    if (const auto failure = CheckBlock(params, false, kMaxPayload, block)) {
        return StatusOnly(*failure);
    }
    const auto stored
        = flash_.Bytes(selection_->device, selection_->region).subspan(block.offset, block.count);
    const bool blank
        = std::all_of(stored.begin(), stored.end(), [](std::uint8_t b) { return b == kErased; });
    return StatusOnly(blank ? kStatusOk : kStatusNotBlank);
}

TReply TFlashSession::Step(std::span<const std::uint8_t> params, std::uint8_t operation)
{
    if (!params.empty())
        return StatusOnly(kStatusBadPacketSize);
    // Stepping an erase the host never set up would wipe the wrong thing.
    if (!selection_ || selection_->operation != operation)
        return StatusOnly(kStatusDeviceNotOpen);
    if (not_ready_left_ > 0) {
        --not_ready_left_;
        return StatusOnly(kStatusNotReady);
    }
    if (operation == kOpErase) {
        flash_.Erase(selection_->device, selection_->region);
    } else {
        flash_.EraseDevice(selection_->device);
    }
    return StatusOnly(kStatusOk);
}

TReply TFlashSession::EraseStep(std::span<const std::uint8_t> params)
{
    return Step(params, kOpErase);
}

TReply TFlashSession::UnlockStep(std::span<const std::uint8_t> params)
{
    return Step(params, kOpUnlock);
}

} // namespace lindprog::sim
