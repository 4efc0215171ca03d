#pragma once

// State shared between the serving thread and whoever inspects the simulator
// (tests, the command-line front end). Everything is guarded by `mutex`;
// `changed` is notified whenever a request arrives or the host comes or goes.

#include <condition_variable>
#include <mutex>

#include "AdapterCore.h"
#include "Faults.h"
#include "Scenario.h"

namespace lindprog::sim {

struct TSimState {
    explicit TSimState(const TScenario& scenario)
        : core(scenario)
        , faults(scenario.faults)
    {
    }

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    TAdapterCore core;
    TFaultPlan faults;
    bool serving = false;
    bool vanished = false;
    bool host_connected = false;
    int host_opens = 0;
};

} // namespace lindprog::sim
