#include "cli/CliPacing.h"

#include "cli/CliSignals.h"

#include <thread>

namespace lindprog::cli {

TRunPacing CommandLinePacing(TQueueDispatcher& dispatcher, std::chrono::milliseconds pause)
{
    TRunPacing pacing;
    pacing.Stop = [] { return StopRequested().load(); };
    pacing.AfterStep = [&dispatcher, pause](bool more) {
        // The receiver's end-of-thread notice (a vanished port) closes the port.
        dispatcher.RunPending();
        if (more && pause.count() > 0)
            std::this_thread::sleep_for(pause);
    };
    return pacing;
}

} // namespace lindprog::cli
