#include "core/ops/JtagScan.h"

#include "core/base/Prompts.h"
#include "core/base/TextFormat.h"
#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"

namespace lindprog {

void RunJtagScan(TDevicePort& port, TLogSink& log)
{
    // The head says how many IDs follow; a reply that lists fewer than it
    // announces is a failed scan, not a shorter chain.
    const bool scanned =
        port.SendCommand(Cmd::JtagScan) && port.RequireReplyData(JtagScanReplySize(port.CarriedReplyData()));
    if (!scanned) {
        log.AddLogLine(Format("JTAG scan failed (%s)", port.StatusText().c_str()));
        return;
    }
    const TJtagScanReply reply = ParseJtagScanReply(port.CarriedReplyData());
    log.AddLogLine(Format("Device count: %d, total IR length: %d", reply.DeviceCount, reply.IrLength));
    for (std::size_t k = 0; k < reply.Ids.size(); ++k)
        log.AddLogLine(Format("Device %d ID: %.08X", static_cast<int>(k + 1), reply.Ids[k]));
}

} // namespace lindprog
