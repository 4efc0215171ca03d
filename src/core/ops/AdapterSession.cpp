#include "core/ops/AdapterSession.h"

#include "core/base/TextFormat.h"
#include "core/ops/ExitCode.h"
#include "core/ops/Operation.h"

namespace lindprog {

TOperationTarget TResolvedTarget::Over(std::span<std::uint8_t> buffer) const
{
    return {Device.DeviceIndex, RegionIndex, VoltageCode, buffer};
}

TAdapterSession::TAdapterSession(TPortNames& portNames, TUiDispatcher& dispatcher, TSettings& settings,
                                 TSessionFaces faces, TOperationDriver::TTick tick)
    : SessionSettings(settings), Endpoint(portNames, dispatcher),
      AdapterConnection(Endpoint, faces.Prompts, faces.ConnectionView),
      PlanRunner(Endpoint, settings, faces.Log, faces.Prompts, faces.RunView, std::move(tick))
{
}

std::optional<TSessionFailure> UnreachedAdapter(TConnectResult connected, const TConnection& connection,
                                                const TDevicePort& port, const std::string& portText)
{
    switch (connected) {
    case TConnectResult::CannotOpen: {
        const std::string reason = port.Port().OpenError();
        return TSessionFailure{ExitCode::NoAdapter, "cannot open " + portText + (reason.empty() ? "" : ": " + reason),
                               PortStatus::PortNotOpen};
    }
    case TConnectResult::NoAnswer:
        return TSessionFailure{ExitCode::NoAdapter, "no adapter answers on " + portText + ": " + port.StatusText(),
                               port.Status()};
    case TConnectResult::RequestFailed:
        return TSessionFailure{ExitCode::NoAdapter, connection.Failure() + " on " + portText,
                               connection.FailureStatus()};
    default: return std::nullopt;
    }
}

TDeviceTarget TAdapterSession::Device(const TEntryChoice& choice)
{
    const std::uint8_t index = FindDevice(AdapterConnection.Devices(), choice);
    return DeviceTargetOf(AdapterConnection.Devices()[index], index, AdapterConnection.RegionsOf(index));
}

TAdapterReport TAdapterSession::Report()
{
    Endpoint.GetKey();
    TAdapterReport report{Endpoint.Identity(), Endpoint.VersionMajor(), Endpoint.VersionMinor(),
                          Endpoint.Mode(),     Endpoint.KeyText(),      {}};
    for (std::size_t d = 0; d < AdapterConnection.Devices().size(); ++d)
        report.Devices.push_back(Device({{}, d}));
    return report;
}

TResolvedTarget TAdapterSession::Resolve(const TTargetChoice& choice, TOperation operation, const std::string& command)
{
    TResolvedTarget target;
    target.Device = Device(choice.Device.value_or(TEntryChoice{{}, 0}));
    if (!choice.Region && target.Device.Regions.empty())
        throw TTargetError(TTargetError::Catalogue, "the device lists no region");
    target.RegionIndex = target.Device.FindRegion(choice.Region.value_or(TEntryChoice{{}, 0}));
    target.VoltageCode = target.Device.VoltageCode(choice.Voltage);
    const TTargetRegion& region = target.Region();
    if (region.Size > TConnection::MaxRegionSize)
        throw TTargetError(TTargetError::Catalogue, RegionTooLarge(region.Name, region.Size));
    if (const std::string refusal = EraseRefusal(operation, region.Name, region.Flags); !refusal.empty())
        throw TTargetError("operation", refusal);
    target.Device.CheckAllows(target.RegionIndex, operation, command);
    return target;
}

} // namespace lindprog
