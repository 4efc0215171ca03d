#pragma once
// The connection with an adapter: opens the port, identifies the adapter,
// reads its catalogue of devices and, for the chosen device, its regions, and
// decides from the chosen region's flags which operations may start. A front
// end shows what this reports through TConnectionView.

#include "core/ops/Catalogue.h"
#include "core/ops/Operation.h"
#include "core/ops/OperationDriver.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

class TDevicePort;
class TPrompts;

// What the connection reports. Every report but ResizeBuffer has an empty
// default, so a front end implements only what it shows.
class TConnectionView {
public:
    virtual ~TConnectionView() = default;

    // A new buffer of the region's size; false when it cannot be had, with
    // the previous buffer kept.
    virtual bool ResizeBuffer(std::uint32_t size) = 0;
    // The adapter's name and firmware version; both empty when closed.
    virtual void ShowAdapter(const std::string& /*identity*/, const std::string& /*version*/) {}
    // The catalogue's lists changed; selected is -1 for none.
    virtual void ShowDevices(const std::vector<std::string>& /*names*/, int /*selected*/) {}
    virtual void ShowVoltages(const std::vector<TVoltageEntry>& /*entries*/, int /*selected*/) {}
    virtual void ShowRegions(const std::vector<std::string>& /*names*/, int /*selected*/) {}
    // Which commands may run changed.
    virtual void ApplyActions(const TActionState& /*actions*/) {}
    // One line for the message log.
    virtual void AddLogLine(const std::string& /*text*/) {}

    // Presentation hooks, for a window.
    // "Quering device, please wait..." in the hint panel, painted at once:
    // the commands that follow block the window.
    virtual void ShowQuerying() {}
    // The busy cursor while the port is being opened, which can take a while
    // on some USB bridges.
    virtual void ShowBusy(bool /*busy*/) {}
    virtual void ClearHintPanel() {}
    virtual void SetCaption(const std::string& /*caption*/) {}
    virtual void SetFirmwareUpdateEnabled(bool /*enabled*/) {}
    virtual void FocusLog() {}
};

// For callers without a window: shows nothing and holds no buffer (a
// session resolves its target and holds the bytes it needs itself).
class TNullView : public TConnectionView, public TRunView {
public:
    bool ResizeBuffer(std::uint32_t) override { return true; }
};

// How a connect attempt ended; the window shows it through the view and
// prompts, the command line turns it into its exit code.
// RequestFailed: the adapter answered its mode, then the identity, the
// version or the catalogue could not be read (TConnection::Failure says which
// and why); the port is closed again.
enum class TConnectResult { CannotOpen, NoAnswer, RequestFailed, Bootloader, Application, UnknownMode };

class TConnection {
public:
    static constexpr const char* ProductName = "Corvane Programmer";
    static constexpr int MinimumFirmware = 0x0112; // 1.18
    // The largest region the program takes into memory (with the hex view's
    // reference copy, twice this). Flash regions of the targets are a few
    // MiB; a catalogue asking for more is refused before anything is
    // allocated.
    static constexpr std::uint32_t MaxRegionSize = 256u * 1024 * 1024;

    TConnection(TDevicePort& port, TPrompts& prompts, TConnectionView& view);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    TConnectResult Connect(int portNumber);
    void Disconnect();
    // The port went away (the adapter was unplugged): the closed state, as
    // after a port that could not be opened, and a log line that says why.
    // Runs on the UI thread, from the endpoint.
    void PortVanished();
    // While the firmware update owns the port, its vanishing is expected
    // (the adapter restarts into its bootloader) and the worker reopens it.
    void SetWatchPort(bool watch) { WatchPort = watch; }
    // False when the adapter was lost while the list was read; a status it
    // reported ends the list with what was read.
    bool ReadDeviceList();
    void SelectDevice(int index); // cbDeviceSelect
    void ReadRegionList();
    void SelectRegion(int index); // cbRegionSelect
    void SelectVoltage(int index);
    void UpdateActions();

    const std::vector<TDeviceInfo>& Devices() const { return DeviceList; }
    // Device `device`'s regions, read once from the adapter and kept for the
    // connection (a choice in the window reads them again); none for a
    // device it does not list.
    const std::vector<TRegionInfo>& RegionsOf(std::uint8_t device);
    const std::vector<TRegionInfo>& Regions() const { return RegionList; }
    const std::vector<TVoltageEntry>& Voltages() const { return VoltageList; }
    int SelectedDevice() const { return DeviceIndex; }
    int SelectedRegion() const { return RegionIndex; }
    // Code of the chosen output voltage, 0 when the device allows none.
    std::uint8_t VoltageCode() const;
    std::uint32_t RegionFlags() const { return CurrentFlags; }
    // Where an operation runs now: the chosen entries and the given buffer.
    TOperationTarget Target(std::span<std::uint8_t> buffer) const;
    const TActionState& Actions() const { return CurrentActions; }
    // After RequestFailed: the log line naming the request and its status,
    // and the status itself.
    const std::string& Failure() const { return FailureText; }
    std::uint8_t FailureStatus() const { return FailureCode; }
    // Why the chosen region has no buffer (too large to hold); empty when it
    // has one. A front end without a message box tells it this way.
    const std::string& RegionRefusal() const { return RegionRefusalText; }

private:
    std::vector<TRegionInfo> ReadRegions(std::uint8_t device);
    bool QueryMode();
    bool ShowIdentity();
    // Notes the first failed request of a connect; false when it failed.
    bool Check(bool ok, const char* request);
    TConnectResult Failed();

    TDevicePort& Port;
    TPrompts& Prompts;
    TConnectionView& View;
    std::vector<TDeviceInfo> DeviceList;
    std::vector<TRegionInfo> RegionList;
    std::vector<std::optional<std::vector<TRegionInfo>>> RegionsRead; // per device
    std::vector<TVoltageEntry> VoltageList;
    int DeviceIndex = -1;
    int RegionIndex = -1;
    int VoltageIndex = -1;
    std::uint32_t CurrentFlags = 0;
    TActionState CurrentActions;
    int ConnectedPort = 0;
    std::string FailureText;
    std::uint8_t FailureCode = 0;
    std::string RegionRefusalText;
    bool WatchPort = true;
};

} // namespace lindprog
