#pragma once
// A simulator serving a scenario on its own pseudo-terminal, optionally
// mapped to COM<N> for this test only. Every test makes its own, so
// `ctest -j` is safe.

#include "sim/AdapterSim.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <optional>

namespace lindprog::test {

class TSimPty {
public:
    // Port number 0 maps nothing: the test opens the terminal by its path.
    // A start that fails is a test failure that gives the simulator's reason.
    explicit TSimPty(const nlohmann::json& scenario, int portNumber = 0, sim::TSimOptions options = {})
        : Sim(sim::ParseScenario(scenario), std::move(options)), Started(Sim.Start())
    {
        if (!Started)
            ADD_FAILURE() << "the simulator did not start: " << Sim.LastError();
        if (portNumber > 0)
            Env.emplace(portNumber, Sim.SlavePath());
    }

    sim::TAdapterSim Sim;
    bool Started;

private:
    std::optional<TEnvPort> Env;
};

} // namespace lindprog::test
