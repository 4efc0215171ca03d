#pragma once
// One function for each catalogue, scan, bootloader and start request the
// program sends: it sends the request, checks the reply's length and gives
// the parsed reply or the status it ended with. Every one goes through
// TDevicePort::Send, so the port's Status() afterwards is the result's.

#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"

#include <cstdint>

namespace lindprog {

TReply<std::uint8_t> RequestDeviceCount(TDevicePort& port);
TReply<TDeviceRecord> RequestDeviceRecord(TDevicePort& port, std::uint8_t device);
TReply<TRegionRecord> RequestRegionRecord(TDevicePort& port, std::uint8_t device, std::uint8_t region);
TReply<TJtagScanReply> RequestJtagScan(TDevicePort& port);

// EnterBootloader. Status NotReady means the adapter is restarting into its
// bootloader (ask again once the port is back); Ok gives its area.
TReply<TBootloaderArea> RequestBootloaderArea(TDevicePort& port);

// StartOperation, which the adapter answers with information lines whatever
// it decided. Three outcomes the caller tells apart:
// - PortStatus::AdapterAnswered(Status) is false: no reply of this request
//   (port closed, no answer, write error); Value is empty.
// - Status is the adapter's own (Ok, DeviceLocked, ...): Value holds the
//   four values and lines the reply carried, whatever the status.
// - Status is BadReplyLength: the adapter accepted but the reply ended before
//   the four values; Value holds what it did carry. The start has not been
//   answered and fails, as any refusal of the endpoint does.
// The four values mean something only when Ok.
TReply<TStartOperationReply> RequestStartOperation(TDevicePort& port, const TStartOperation& start);

} // namespace lindprog
