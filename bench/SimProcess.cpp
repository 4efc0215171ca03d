#include "SimProcess.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lindprog::bench {

TSimProcess::TSimProcess(const std::string& scenarioJson, const std::vector<std::string>& extraArguments)
{
    char pattern[] = "/tmp/lindprog-bench-XXXXXX.json";
    const int fd = ::mkstemps(pattern, 5);
    if (fd < 0)
        throw std::runtime_error("cannot create a scenario file");
    ::close(fd);
    ScenarioFile = pattern;
    std::ofstream(ScenarioFile) << scenarioJson;

    int output[2];
    if (::pipe(output) != 0)
        throw std::runtime_error("pipe failed");
    // No scenario text: the simulator's own demo scenario.
    std::vector<std::string> arguments = {LINDPROG_SIM_PATH, "--quiet"};
    if (!scenarioJson.empty())
        arguments.insert(arguments.end(), {"--scenario", ScenarioFile});
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, output[0]);
    const int failed = ::posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (failed != 0) {
        ::close(output[0]);
        throw std::runtime_error("cannot start " + arguments[0]);
    }
    FILE* lines = ::fdopen(output[0], "r");
    char line[512] = {};
    if (std::fgets(line, sizeof line, lines) == nullptr) {
        std::fclose(lines);
        throw std::runtime_error("the simulator printed no port path");
    }
    std::fclose(lines);
    Path = line;
    while (!Path.empty() && (Path.back() == '\n' || Path.back() == '\r'))
        Path.pop_back();
}

TSimProcess::~TSimProcess()
{
    if (Pid > 0) {
        ::kill(Pid, SIGTERM);
        int status = 0;
        ::waitpid(Pid, &status, 0);
    }
    ::unlink(ScenarioFile.c_str());
}

} // namespace lindprog::bench
