#include "core/ops/Connection.h"

#include "core/base/Prompts.h"
#include "core/base/TextFormat.h"
#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"
#include "core/ops/Target.h"

#include <new>

namespace lindprog {

TConnection::TConnection(TDevicePort& port, TPrompts& prompts, TConnectionView& view)
    : Port(port), Prompts(prompts), View(view)
{
    Port.SetOnVanished([this] { PortVanished(); });
    Port.SetOnNotice([this](const std::string& line) { View.AddLogLine(line); });
}

TConnection::~TConnection()
{
    Port.SetOnVanished({});
    Port.SetOnNotice({});
}

void TConnection::PortVanished()
{
    if (!WatchPort)
        return;
    View.AddLogLine(Format("Port COM%d went away", ConnectedPort));
    Disconnect();
}

TConnectResult TConnection::Connect(int portNumber)
{
    Disconnect();
    ConnectedPort = portNumber;
    View.ShowBusy(true);
    const bool opened = Port.Open(portNumber);
    View.ShowBusy(false);
    if (!opened) {
        if (const auto advice = OpenFailureAdvice(portNumber, Port.Port().OpenError()); !advice.empty())
            View.AddLogLine(advice);
        Prompts.ShowError(Format("Can't open serial port COM%d", portNumber));
        return TConnectResult::CannotOpen;
    }
    View.ShowQuerying();
    FailureText.clear();
    TConnectResult result = TConnectResult::NoAnswer;
    if (QueryMode()) {
        result = TConnectResult::UnknownMode;
        // Without them the panels and the firmware advice would be built
        // from zeros.
        if (!ShowIdentity())
            return Failed();
        if (Port.Mode() == ModeApplication) {
            result = TConnectResult::Application;
            if (Port.VersionMajor() * 256 + Port.VersionMinor() < MinimumFirmware)
                Prompts.ShowInfo("Please update programmer's firmware to version 1.18 or above");
            if (!ReadDeviceList())
                return Failed();
            UpdateActions();
        } else if (Port.Mode() == ModeBootloader) {
            Prompts.ShowInfo("Device is in bootloader mode");
            result = TConnectResult::Bootloader;
        }
    } else {
        Prompts.ShowError(Format("No device found on port COM%d", portNumber));
    }
    View.ClearHintPanel();
    View.SetCaption(std::string(ProductName) + Format(" - [COM%d]", portNumber));
    View.SetFirmwareUpdateEnabled(Port.IsOpen());
    return result;
}

bool TConnection::QueryMode()
{
    // The adapter may still be settling after the port opened: one retry.
    return Port.GetMode() || Port.GetMode();
}

bool TConnection::ShowIdentity()
{
    // A name the adapter declines with a status is only left empty; the
    // version is needed, for the advice to update is built from it.
    if (!Check(Port.GetIdentity() || PortStatus::AdapterAnswered(Port.Status()), "Identity") ||
        !Check(Port.GetVersion(), "Version"))
        return false;
    View.ShowAdapter(Port.Identity(),
                     "v" + std::to_string(Port.VersionMajor()) + "." + std::to_string(Port.VersionMinor()));
    return true;
}

bool TConnection::Check(bool ok, const char* request)
{
    if (!ok && FailureText.empty()) {
        FailureCode = Port.Status();
        FailureText = Format("%s request failed: %s", request, Port.StatusText().c_str());
    }
    return ok;
}

TConnectResult TConnection::Failed()
{
    View.AddLogLine(FailureText);
    // A port that went away says so as it does at any other time.
    if (Port.Vanished() && WatchPort)
        PortVanished();
    else
        Disconnect();
    View.ClearHintPanel();
    View.SetFirmwareUpdateEnabled(false);
    return TConnectResult::RequestFailed;
}

void TConnection::Disconnect()
{
    Port.Close();
    View.ShowAdapter("", "");
    View.SetCaption(ProductName);
    CurrentFlags = 0;
    UpdateActions();
}

bool TConnection::ReadDeviceList()
{
    DeviceList.clear();
    RegionsRead.clear();
    const auto count = Port.DeviceCount();
    // An adapter that reports a status has answered; one that went silent or
    // away leaves no catalogue to trust.
    if (!PortStatus::AdapterAnswered(count.Status))
        return Check(false, "Device count");
    if (count.Ok()) {
        // A record reply too short for its record fails like any other
        // record request: the list keeps what was read before it.
        for (int index = 0; index < count.Value; ++index) {
            const auto record = Port.DeviceRecord(static_cast<std::uint8_t>(index));
            if (!PortStatus::AdapterAnswered(record.Status))
                return Check(false, "Device record");
            if (!record.Ok())
                break;
            DeviceList.push_back({record.Value});
        }
    }
    DeviceIndex = DeviceList.empty() ? -1 : 0;
    View.ShowDevices(RecordNames(DeviceList), DeviceIndex);
    if (DeviceIndex == 0)
        SelectDevice(0);
    return true;
}

void TConnection::SelectDevice(int index)
{
    if (index < 0 || index >= static_cast<int>(DeviceList.size()))
        return;
    DeviceIndex = index;
    VoltageList = VoltageEntries(DeviceList[static_cast<std::size_t>(index)].Voltages());
    VoltageIndex = VoltageList.empty() ? -1 : 0;
    View.ShowVoltages(VoltageList, VoltageIndex);
    ReadRegionList();
    UpdateActions();
    View.FocusLog();
}

std::vector<TRegionInfo> TConnection::ReadRegions(std::uint8_t device)
{
    std::vector<TRegionInfo> regions;
    for (std::int32_t region = 0; region < DeviceList[device].RegionCount() && region < 256; ++region) {
        const auto record = Port.RegionRecord(device, static_cast<std::uint8_t>(region));
        if (!record.Ok())
            break;
        regions.push_back({record.Value});
    }
    RegionsRead.resize(DeviceList.size());
    RegionsRead[device] = regions;
    return regions;
}

const std::vector<TRegionInfo>& TConnection::RegionsOf(std::uint8_t device)
{
    static const std::vector<TRegionInfo> none;
    if (device >= DeviceList.size())
        return none;
    if (device >= RegionsRead.size() || !RegionsRead[device])
        ReadRegions(device);
    return *RegionsRead[device];
}

void TConnection::ReadRegionList()
{
    RegionRefusalText.clear();
    RegionList = ReadRegions(static_cast<std::uint8_t>(DeviceIndex));
    RegionIndex = RegionList.empty() ? -1 : 0;
    View.ShowRegions(RecordNames(RegionList), RegionIndex);
    if (RegionIndex == 0) {
        SelectRegion(0);
    } else {
        // No region: nothing may start on the region of the previous device.
        CurrentFlags = 0;
    }
}

void TConnection::SelectRegion(int index)
{
    if (index < 0 || index >= static_cast<int>(RegionList.size()))
        return;
    RegionIndex = index;
    const TRegionInfo& region = RegionList[static_cast<std::size_t>(index)];
    RegionRefusalText.clear();
    if (region.Size() > MaxRegionSize || !View.ResizeBuffer(region.Size())) {
        // Nothing may run on a buffer that is not the region's.
        CurrentFlags = 0;
        UpdateActions();
        RegionRefusalText = RegionTooLarge(region.Name(), region.Size());
        Prompts.ShowError(RegionRefusalText);
        return;
    }
    CurrentFlags = region.Flags();
    UpdateActions();
    View.FocusLog();
}

void TConnection::SelectVoltage(int index)
{
    if (index >= 0 && index < static_cast<int>(VoltageList.size()))
        VoltageIndex = index;
}

std::uint8_t TConnection::VoltageCode() const
{
    if (VoltageIndex < 0)
        return 0;
    return VoltageList[static_cast<std::size_t>(VoltageIndex)].Code;
}

TOperationTarget TConnection::Target(std::span<std::uint8_t> buffer) const
{
    return {static_cast<std::uint8_t>(DeviceIndex), static_cast<std::uint8_t>(RegionIndex), VoltageCode(), buffer};
}

void TConnection::UpdateActions()
{
    CurrentActions = TActionState::From(Port.IsOpen(), CurrentFlags);
    View.ApplyActions(CurrentActions);
}

} // namespace lindprog
