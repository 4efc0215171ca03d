#include "AdapterCore.h"

#include "Wire.h"

#include <algorithm>

namespace lindprog::sim {

namespace {

// Zero-padded fixed-size name field; a name of exactly 64 characters has no zero.
void AppendName(std::vector<std::uint8_t>& out, const std::string& name)
{
    std::vector<std::uint8_t> field(RecordNameSize, 0);
    std::copy(name.begin(), name.end(), field.begin());
    out.insert(out.end(), field.begin(), field.end());
}

TReply WithData(std::vector<std::uint8_t> data)
{
    return TReply{true, StatusOk, std::move(data)};
}

} // namespace

TAdapterCore::TAdapterCore(const TScenario& scenario)
    : Scenario(scenario), Session(scenario), CurrentMode(scenario.Mode), Attached(!scenario.TargetDetached)
{
}

void TAdapterCore::DetachTarget()
{
    Attached = false;
    Session.Close();
}

void TAdapterCore::AttachTarget(bool keep)
{
    if (!keep)
        Session.FreshTarget(Scenario.Devices);
    Attached = true;
}

void TAdapterCore::Record(std::span<const std::uint8_t> payload)
{
    Requests.emplace_back(payload.begin(), payload.end());
}

int TAdapterCore::RequestCount(std::uint8_t code) const
{
    return static_cast<int>(
        std::count_if(Requests.begin(), Requests.end(), [code](const auto& p) { return !p.empty() && p[0] == code; }));
}

void TAdapterCore::OnHostReopened()
{
    if (!BootloaderOnReopen)
        return;
    BootloaderOnReopen = false;
    CurrentMode = ModeBootloader;
    Session.Close();
}

bool TAdapterCore::Allowed(std::uint8_t code) const
{
    if (CurrentMode == ModeApplication)
        return code != CmdProgramPage;
    switch (code) {
    case CmdGetMode:
    case CmdGetIdentity:
    case CmdGetVersion:
    case CmdResetAdapter:
    case CmdGetKey:
    case CmdProgramPage:
    case CmdEnterBootloader: return true;
    default: return false;
    }
}

TReply TAdapterCore::Handle(std::span<const std::uint8_t> payload)
{
    Record(payload);
    if (payload.empty())
        return StatusOnly(StatusBadPacketSize);
    const std::uint8_t code = payload[0];
    if (!Allowed(code))
        return StatusOnly(StatusBadCommand);
    return Dispatch(code, payload.subspan(1));
}

TReply TAdapterCore::Dispatch(std::uint8_t code, std::span<const std::uint8_t> params)
{
    switch (code) {
    case CmdProgramPage: return ProgramPage(params);
    case CmdGetDeviceRecord: return DeviceRecord(params);
    case CmdGetRegionRecord: return RegionRecord(params);
    default: break;
    }
    if (code == CmdStartOperation && !Attached)
        return StatusOnly(StatusDeviceNotFound);
    if (code >= CmdStartOperation && code <= CmdUnlockStep)
        return DispatchFlash(code, params);
    // Everything else takes no parameters.
    if (!params.empty())
        return StatusOnly(StatusBadPacketSize);
    switch (code) {
    case CmdGetMode: return WithData({CurrentMode});
    case CmdGetIdentity: return Identity();
    case CmdGetVersion: return Version();
    case CmdResetAdapter: return Reset();
    case CmdGetKey: return Key();
    case CmdGetDeviceCount: return DeviceCount();
    case CmdEnterBootloader: return EnterBootloader();
    case CmdPowerOff: return StatusOnly(StatusOk);
    case CmdJtagScan: return JtagScan();
    default: return StatusOnly(StatusBadCommand);
    }
}

TReply TAdapterCore::DispatchFlash(std::uint8_t code, std::span<const std::uint8_t> params)
{
    switch (code) {
    case CmdStartOperation: return Session.StartOperation(params);
    case CmdReadBlock: return Session.ReadBlock(params);
    case CmdWriteBlock: return Session.WriteBlock(params);
    case CmdVerifyBlock: return Session.VerifyBlock(params);
    case CmdBlankCheckBlock: return Session.BlankCheckBlock(params);
    case CmdEraseStep: return Session.EraseStep(params);
    case CmdUnlockStep: return Session.UnlockStep(params);
    default: return StatusOnly(StatusBadCommand);
    }
}

TReply TAdapterCore::Identity() const
{
    std::vector<std::uint8_t> data;
    AppendText(data, Scenario.Identity);
    return WithData(std::move(data));
}

TReply TAdapterCore::Version() const
{
    return WithData({Scenario.VersionMajor, Scenario.VersionMinor});
}

TReply TAdapterCore::Reset()
{
    CurrentMode = ModeApplication;
    BootloaderOnReopen = false;
    Session.Close();
    return StatusOnly(StatusOk);
}

TReply TAdapterCore::Key() const
{
    std::vector<std::uint8_t> data;
    AppendU32(data, Scenario.Key);
    return WithData(std::move(data));
}

TReply TAdapterCore::DeviceCount() const
{
    return WithData({static_cast<std::uint8_t>(Flash().DeviceCount())});
}

TReply TAdapterCore::EnterBootloader()
{
    if (CurrentMode == ModeApplication) {
        // The adapter restarts; the host sees it again once it reopens the port.
        BootloaderOnReopen = true;
        return StatusOnly(StatusNotReady);
    }
    std::vector<std::uint8_t> data;
    AppendU32(data, Scenario.Bootloader.AppStart);
    AppendU32(data, Scenario.Bootloader.AppEnd);
    AppendU16(data, Scenario.Bootloader.PageSize);
    return WithData(std::move(data));
}

TReply TAdapterCore::ProgramPage(std::span<const std::uint8_t> params)
{
    if (params.size() != PageRecordSize)
        return StatusOnly(StatusBadPacketSize);
    const std::size_t index = PagesAttempted++;
    const auto& overrides = Scenario.Bootloader.PageStatus;
    const auto it = overrides.find(static_cast<std::uint32_t>(index));
    const std::uint8_t status = it != overrides.end() ? it->second : StatusOk;
    if (status == StatusOk)
        Pages.emplace_back(params.begin(), params.end());
    return StatusOnly(status);
}

TReply TAdapterCore::JtagScan() const
{
    static const TJtagSpec emptyChain;
    const auto& jtag = Attached ? Scenario.Jtag : emptyChain;
    std::vector<std::uint8_t> data;
    AppendU32(data, jtag.Count);
    AppendU32(data, jtag.IrLength);
    // The scenario parser makes sure there are enough ids; a scenario built in
    // code that has fewer reports only the ones it has.
    const std::size_t reported = std::min({std::size_t{jtag.Count}, MaxJtagIds, jtag.Ids.size()});
    for (std::size_t k = 0; k < reported; ++k)
        AppendU32(data, jtag.Ids[k]);
    return WithData(std::move(data));
}

TReply TAdapterCore::DeviceRecord(std::span<const std::uint8_t> params) const
{
    if (params.size() != 1)
        return StatusOnly(StatusBadPacketSize);
    if (params[0] >= Flash().DeviceCount())
        return StatusOnly(StatusBadParameter);
    const auto& device = Flash().Device(params[0]);
    std::vector<std::uint8_t> data;
    AppendName(data, device.Name);
    AppendU32(data, device.Voltages);
    AppendU32(data, device.Reserved);
    const auto count = device.RegionCount.value_or(static_cast<std::int32_t>(Flash().RegionCount(params[0])));
    AppendU32(data, static_cast<std::uint32_t>(count));
    return WithData(std::move(data));
}

TReply TAdapterCore::RegionRecord(std::span<const std::uint8_t> params) const
{
    if (params.size() != 2)
        return StatusOnly(StatusBadPacketSize);
    if (!Flash().Exists(params[0], params[1]))
        return StatusOnly(StatusBadParameter);
    const auto& region = Flash().Region(params[0], params[1]);
    std::vector<std::uint8_t> data;
    AppendName(data, region.Name);
    AppendU32(data, region.Flags);
    AppendU32(data, region.ReportedSize.value_or(region.Size));
    return WithData(std::move(data));
}

} // namespace lindprog::sim
