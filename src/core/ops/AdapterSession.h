#pragma once
// One adapter, whole: its endpoint, the connection that identifies it and
// reads its catalogue, the resolver of the targets a user names, and the
// runner of plans. The window, every command of lindprog-cli, a production
// station, the tests' harness and the driver benchmark make one session per
// adapter; none of them puts the endpoint, connection and runner together
// itself. (Looking for an adapter's key and the link benchmark talk to a
// bare endpoint: they run no operation.)
//
// A single command is a one-step plan on a target resolved here, and a job's
// steps are resolved against the same catalogue with the same words for
// what the adapter does not offer.

#include "core/link/DevicePort.h"
#include "core/ops/AdapterReport.h"
#include "core/ops/Connection.h"
#include "core/ops/OperationRunner.h"
#include "core/ops/Target.h"

#include <optional>
#include <string>

namespace lindprog {

class TPortNames;
class TUiDispatcher;
struct TSettings;

// Who hears what a session reports: one object may be all four.
struct TSessionFaces {
    TLogSink& Log;
    TPrompts& Prompts;
    TRunView& RunView;
    TConnectionView& ConnectionView;
};

// A target as the command line names it; every part may be left out.
struct TTargetChoice {
    std::optional<TEntryChoice> Device; // the first device when none
    std::optional<TEntryChoice> Region; // the first region when none
    std::optional<std::string> Voltage; // the device's first when none
};

// A region of a device, resolved, with the voltage to start it with.
struct TResolvedTarget {
    TDeviceTarget Device;
    std::uint8_t RegionIndex = 0;
    std::uint8_t VoltageCode = 0;

    const TTargetRegion& Region() const { return Device.Regions[RegionIndex]; }
    // The operation target over `buffer` (the region's bytes).
    TOperationTarget Over(std::span<std::uint8_t> buffer) const;
};

// Why a session could not start or go on: the message, the exit code
// lindprog-cli ends with for it, and the adapter's status where one caused it.
struct TSessionFailure {
    int ExitCode = 0;
    std::string Message;
    std::uint8_t Status = 0;
};

// Why a connect reached no adapter to work with (the port would not open,
// nothing answered, a request while connecting failed); none when an
// adapter answered, whatever its mode. portText names the port as the user
// gave it.
std::optional<TSessionFailure> UnreachedAdapter(TConnectResult connected, const TConnection& connection,
                                                const TDevicePort& port, const std::string& portText);

class TAdapterSession {
public:
    TAdapterSession(TPortNames& portNames, TUiDispatcher& dispatcher, TSettings& settings, TSessionFaces faces,
                    TOperationDriver::TTick tick = {});
    TAdapterSession(const TAdapterSession&) = delete;
    TAdapterSession& operator=(const TAdapterSession&) = delete;

    TDevicePort& Port() { return Endpoint; }
    const TDevicePort& Port() const { return Endpoint; }
    TAdapter& Adapter() { return Endpoint; }
    TConnection& Connection() { return AdapterConnection; }
    TOperationRunner& Runner() { return PlanRunner; }
    TSettings& Settings() { return SessionSettings; }

    TConnectResult Connect(int portNumber) { return AdapterConnection.Connect(portNumber); }

    // The device `choice` names, with its regions (read from the adapter the
    // first time). Throws TTargetError.
    TDeviceTarget Device(const TEntryChoice& choice);
    // Device, region and voltage, and that the region allows `operation`
    // (`command`: how the user named it) and can be held in memory. Throws
    // TTargetError.
    TResolvedTarget Resolve(const TTargetChoice& choice, TOperation operation, const std::string& command);

    // The connected adapter's identity, key and whole catalogue (asks for
    // the key, and reads the regions of every device not read yet).
    TAdapterReport Report();

    const TPlanOutcome& Run(TPlan plan, const TRunPacing& pacing = {})
    {
        return PlanRunner.Run(std::move(plan), pacing);
    }

private:
    TSettings& SessionSettings;
    TDevicePort Endpoint;
    lindprog::TConnection AdapterConnection;
    TOperationRunner PlanRunner;
};

} // namespace lindprog
