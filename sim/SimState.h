#pragma once

// State shared between the serving thread and whoever inspects the simulator
// (tests, the command-line front end). Everything is guarded by `Mutex`;
// `Changed` is notified whenever a request arrives or the host comes or goes.

#include "AdapterCore.h"
#include "Faults.h"
#include "Scenario.h"

#include <condition_variable>
#include <mutex>

namespace lindprog::sim {

struct TSimState {
    explicit TSimState(const TScenario& scenario) : Core(scenario), Faults(scenario.Faults) {}

    mutable std::mutex Mutex;
    mutable std::condition_variable Changed;
    TAdapterCore Core;
    TFaultPlan Faults;
    bool Serving = false;
    bool Vanished = false;
    bool HostConnected = false;
    int HostOpens = 0;
};

} // namespace lindprog::sim
