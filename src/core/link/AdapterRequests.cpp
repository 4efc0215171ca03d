#include "core/link/AdapterRequests.h"

namespace lindprog {

TReply<std::uint8_t> RequestDeviceCount(TDevicePort& port)
{
    return port.Send(TGetDeviceCount{});
}

TReply<TDeviceRecord> RequestDeviceRecord(TDevicePort& port, std::uint8_t device)
{
    return port.Send(TGetDeviceRecord{device});
}

TReply<TRegionRecord> RequestRegionRecord(TDevicePort& port, std::uint8_t device, std::uint8_t region)
{
    return port.Send(TGetRegionRecord{device, region});
}

TReply<TJtagScanReply> RequestJtagScan(TDevicePort& port)
{
    return port.Send(TJtagScan{});
}

TReply<TBootloaderArea> RequestBootloaderArea(TDevicePort& port)
{
    return port.Send(TEnterBootloader{});
}

TReply<TStartOperationReply> RequestStartOperation(TDevicePort& port, const TStartOperation& start)
{
    return port.Send(start);
}

} // namespace lindprog
