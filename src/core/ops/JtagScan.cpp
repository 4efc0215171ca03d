#include "core/ops/JtagScan.h"

#include "core/base/Prompts.h"
#include "core/base/TextFormat.h"
#include "core/link/Adapter.h"

namespace lindprog {

void RunJtagScan(TAdapter& port, TLogSink& log)
{
    const TReply<TJtagScanReply> scan = port.JtagScan();
    if (!scan.Ok()) {
        log.AddLogLine(Format("JTAG scan failed (%s)", port.TextOf(scan.Status).c_str()));
        return;
    }
    log.AddLogLine(Format("Device count: %d, total IR length: %d", scan.Value.DeviceCount, scan.Value.IrLength));
    for (std::size_t k = 0; k < scan.Value.Ids.size(); ++k)
        log.AddLogLine(Format("Device %d ID: %.08X", static_cast<int>(k + 1), scan.Value.Ids[k]));
}

} // namespace lindprog
