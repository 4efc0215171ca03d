#pragma once
// What the runner, the station loop and the resolver ask of a programming
// adapter: its identity and catalogue, the start of an operation, the block
// commands, the steps of an erase or unlock, power-off and the chain scan.
// TDevicePort answers it with this adapter's command set; another model of
// adapter is another implementation of this interface, and the runner, the
// driver, the chain wait and the scan stay as they are. The connect sequence
// and the firmware update are this adapter's own and keep the endpoint.
//
// Every request reports success as a boolean and keeps its outcome in
// Status(): 0 for success, the adapter's own failures as the codes of
// PortStatus.h, which every model maps its own onto (CompareError,
// NotReady, DeviceLocked, ... mean the same whatever sent them), and the
// link's own (no answer, port gone). StatusText() names the status as the
// model names it.

#include "core/link/AdapterCommands.h"

#include <cstdint>
#include <span>
#include <string>

namespace lindprog {

class TAdapter {
public:
    virtual ~TAdapter() = default;

    virtual bool Open(int portNumber) = 0;
    virtual void Close() = 0;
    virtual bool IsOpen() const = 0;
    // The port went away while it was open.
    virtual bool Vanished() const = 0;
    // From any thread: the request under way gives up at once.
    virtual void Interrupt() = 0;

    virtual std::uint8_t Status() const = 0;
    virtual std::string StatusText() const = 0;
    virtual std::string TextOf(std::uint8_t status) const = 0;
    // A read error that is to be ignored leaves no failure behind.
    virtual void ClearStatus() = 0;

    // Identification; each sets what its reader below gives.
    virtual bool GetMode() = 0;
    virtual bool GetIdentity() = 0;
    virtual bool GetVersion() = 0;
    virtual bool GetKey() = 0;
    virtual std::uint8_t Mode() const = 0;
    virtual const std::string& Identity() const = 0;
    virtual std::uint8_t VersionMajor() const = 0;
    virtual std::uint8_t VersionMinor() const = 0;
    virtual const std::string& KeyText() const = 0;

    // The catalogue.
    virtual TReply<std::uint8_t> DeviceCount() = 0;
    virtual TReply<TDeviceRecord> DeviceRecord(std::uint8_t device) = 0;
    virtual TReply<TRegionRecord> RegionRecord(std::uint8_t device, std::uint8_t region) = 0;

    // An operation: its start, then its blocks or its repeated steps.
    virtual TReply<TStartOperationReply> StartOperation(const TStartOperation& start) = 0;
    virtual bool ReadBlock(std::uint32_t offset, std::uint16_t count, std::span<std::uint8_t> destination) = 0;
    // What the reply of a failed ReadBlock still carried (the adapter's
    // best reading of a block it could not read cleanly); empty when none.
    virtual std::span<const std::uint8_t> FailedReadData() const = 0;
    virtual bool WriteBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source) = 0;
    virtual bool VerifyBlock(std::uint32_t offset, std::uint16_t count, std::span<const std::uint8_t> source) = 0;
    virtual bool BlankCheckBlock(std::uint32_t offset, std::uint16_t count) = 0;
    // False with NotReady while the adapter is still at it.
    virtual bool EraseStep() = 0;
    virtual bool UnlockStep() = 0;
    virtual bool PowerOff() = 0;
    virtual TReply<TJtagScanReply> JtagScan() = 0;
};

} // namespace lindprog
