#pragma once

// The demo scenario (sim/scenarios/demo.json) as the program carries it:
// compiled in, so `lindprog-sim` without --scenario serves the same adapter
// from a build folder and from an installed package, wherever either sits.

#include <string_view>

namespace lindprog::sim {

std::string_view DemoScenarioText();

} // namespace lindprog::sim
