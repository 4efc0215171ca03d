#include "AdapterCore.h"

#include <algorithm>

#include "Wire.h"

namespace lindprog::sim {

namespace {

// Zero-padded fixed-size name field; a name of exactly 64 characters has no zero.
void AppendName(std::vector<std::uint8_t>& out, const std::string& name)
{
    std::vector<std::uint8_t> field(kRecordNameSize, 0);
    std::copy(name.begin(), name.end(), field.begin());
    out.insert(out.end(), field.begin(), field.end());
}

TReply WithData(std::vector<std::uint8_t> data)
{
    return TReply{true, kStatusOk, std::move(data)};
}

} // namespace

TAdapterCore::TAdapterCore(const TScenario& scenario)
    : scenario_(scenario)
    , session_(scenario)
    , mode_(scenario.mode)
{
}

void TAdapterCore::Record(std::span<const std::uint8_t> payload)
{
    requests_.emplace_back(payload.begin(), payload.end());
}

int TAdapterCore::RequestCount(std::uint8_t code) const
{
    return static_cast<int>(std::count_if(requests_.begin(), requests_.end(),
        [code](const auto& p) { return !p.empty() && p[0] == code; }));
}

void TAdapterCore::OnHostReopened()
{
    if (!bootloader_on_reopen_)
        return;
    bootloader_on_reopen_ = false;
    mode_ = kModeBootloader;
    session_.Close();
}

bool TAdapterCore::Allowed(std::uint8_t code) const
{
    if (mode_ == kModeApplication)
        return code != kCmdProgramPage;
    switch (code) {
    case kCmdGetMode:
    case kCmdGetIdentity:
    case kCmdGetVersion:
    case kCmdResetAdapter:
    case kCmdGetKey:
    case kCmdProgramPage:
    case kCmdEnterBootloader:
        return true;
    default:
        return false;
    }
}

TReply TAdapterCore::Handle(std::span<const std::uint8_t> payload)
{
    Record(payload);
    if (payload.empty())
        return StatusOnly(kStatusBadPacketSize);
    const std::uint8_t code = payload[0];
    if (!Allowed(code))
        return StatusOnly(kStatusBadCommand);
    return Dispatch(code, payload.subspan(1));
}

TReply TAdapterCore::Dispatch(std::uint8_t code, std::span<const std::uint8_t> params)
{
    switch (code) {
    case kCmdProgramPage:
        return ProgramPage(params);
    case kCmdGetDeviceRecord:
        return DeviceRecord(params);
    case kCmdGetRegionRecord:
        return RegionRecord(params);
    default:
        break;
    }
    if (code >= kCmdStartOperation && code <= kCmdUnlockStep)
        return DispatchFlash(code, params);
    // Everything else takes no parameters.
    if (!params.empty())
        return StatusOnly(kStatusBadPacketSize);
    switch (code) {
    case kCmdGetMode:
        return WithData({mode_});
    case kCmdGetIdentity:
        return Identity();
    case kCmdGetVersion:
        return Version();
    case kCmdResetAdapter:
        return Reset();
    case kCmdGetKey:
        return Key();
    case kCmdGetDeviceCount:
        return DeviceCount();
    case kCmdEnterBootloader:
        return EnterBootloader();
    case kCmdPowerOff:
        return StatusOnly(kStatusOk);
    case kCmdJtagScan:
        return JtagScan();
    default:
        return StatusOnly(kStatusBadCommand);
    }
}

TReply TAdapterCore::DispatchFlash(std::uint8_t code, std::span<const std::uint8_t> params)
{
    switch (code) {
    case kCmdStartOperation:
        return session_.StartOperation(params);
    case kCmdReadBlock:
        return session_.ReadBlock(params);
    case kCmdWriteBlock:
        return session_.WriteBlock(params);
    case kCmdVerifyBlock:
        return session_.VerifyBlock(params);
    case kCmdBlankCheckBlock:
        return session_.BlankCheckBlock(params);
    case kCmdEraseStep:
        return session_.EraseStep(params);
    case kCmdUnlockStep:
        return session_.UnlockStep(params);
    default:
        return StatusOnly(kStatusBadCommand);
    }
}

TReply TAdapterCore::Identity() const
{
    std::vector<std::uint8_t> data;
    AppendText(data, scenario_.identity);
    return WithData(std::move(data));
}

TReply TAdapterCore::Version() const
{
    return WithData({scenario_.version_major, scenario_.version_minor});
}

TReply TAdapterCore::Reset()
{
    mode_ = kModeApplication;
    bootloader_on_reopen_ = false;
    session_.Close();
    return StatusOnly(kStatusOk);
}

TReply TAdapterCore::Key() const
{
    std::vector<std::uint8_t> data;
    AppendU32(data, scenario_.key);
    return WithData(std::move(data));
}

TReply TAdapterCore::DeviceCount() const
{
    return WithData({static_cast<std::uint8_t>(Flash().DeviceCount())});
}

TReply TAdapterCore::EnterBootloader()
{
    if (mode_ == kModeApplication) {
        // The adapter restarts; the host sees it again once it reopens the port.
        bootloader_on_reopen_ = true;
        return StatusOnly(kStatusNotReady);
    }
    std::vector<std::uint8_t> data;
    AppendU32(data, scenario_.bootloader.app_start);
    AppendU32(data, scenario_.bootloader.app_end);
    AppendU16(data, scenario_.bootloader.page_size);
    return WithData(std::move(data));
}

TReply TAdapterCore::ProgramPage(std::span<const std::uint8_t> params)
{
    if (params.size() != kPageRecordSize)
        return StatusOnly(kStatusBadPacketSize);
    const std::size_t index = pages_attempted_++;
    const auto& overrides = scenario_.bootloader.page_status;
    const auto it = overrides.find(static_cast<std::uint32_t>(index));
    const std::uint8_t status = it != overrides.end() ? it->second : kStatusOk;
    if (status == kStatusOk)
        pages_.emplace_back(params.begin(), params.end());
    return StatusOnly(status);
}

TReply TAdapterCore::JtagScan() const
{
    const auto& jtag = scenario_.jtag;
    std::vector<std::uint8_t> data;
    AppendU32(data, jtag.count);
    AppendU32(data, jtag.ir_length);
    // The scenario parser makes sure there are enough ids; a scenario built in
    // code that has fewer reports only the ones it has.
    const std::size_t reported = std::min({std::size_t{jtag.count}, kMaxJtagIds, jtag.ids.size()});
    for (std::size_t k = 0; k < reported; ++k)
        AppendU32(data, jtag.ids[k]);
    return WithData(std::move(data));
}

TReply TAdapterCore::DeviceRecord(std::span<const std::uint8_t> params) const
{
    if (params.size() != 1)
        return StatusOnly(kStatusBadPacketSize);
    if (params[0] >= Flash().DeviceCount())
        return StatusOnly(kStatusBadParameter);
    const auto& device = Flash().Device(params[0]);
    std::vector<std::uint8_t> data;
    AppendName(data, device.name);
    AppendU32(data, device.voltages);
    AppendU32(data, device.reserved);
    const auto count
        = device.region_count.value_or(static_cast<std::int32_t>(Flash().RegionCount(params[0])));
    AppendU32(data, static_cast<std::uint32_t>(count));
    return WithData(std::move(data));
}

TReply TAdapterCore::RegionRecord(std::span<const std::uint8_t> params) const
{
    if (params.size() != 2)
        return StatusOnly(kStatusBadPacketSize);
    if (!Flash().Exists(params[0], params[1]))
        return StatusOnly(kStatusBadParameter);
    const auto& region = Flash().Region(params[0], params[1]);
    std::vector<std::uint8_t> data;
    AppendName(data, region.name);
    AppendU32(data, region.flags);
    AppendU32(data, region.size);
    return WithData(std::move(data));
}

} // namespace lindprog::sim
