#pragma once
// Runs lindprog-sim as a child process, so that the CPU time a benchmark
// measures is the client's alone.

#include <string>
#include <vector>

#include <sys/types.h>

namespace lindprog::bench {

class TSimProcess {
public:
    // Starts the simulator with the scenario text (empty: its demo scenario)
    // and extra arguments, and waits for the pseudo-terminal path it prints.
    TSimProcess(const std::string& scenarioJson, const std::vector<std::string>& extraArguments);
    ~TSimProcess();
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;

    const std::string& SlavePath() const { return Path; }

private:
    pid_t Pid = -1;
    std::string ScenarioFile;
    std::string Path;
};

} // namespace lindprog::bench
