// lindprog-sim: serves a simulated programmer adapter on a pseudo-terminal so
// the client (or a script) can be pointed at it like at the real device.

#include "AdapterSim.h"
#include "ControlSocket.h"
#include "DemoScenario.h"
#include "Pty.h"
#include "Scenario.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <poll.h>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using lindprog::sim::TAdapterSim;
using lindprog::sim::TEventFd;
using lindprog::sim::TFd;
using lindprog::sim::TSimOptions;

constexpr int UsageExit = 2;
constexpr const char* Usage =
    "usage: lindprog-sim [--scenario FILE] [--link PATH] [--control PATH] [--pace] [--transcript FILE] [--quiet]";
// What --help prints after the usage line.
constexpr const char* Help = R"(
Plays the Corvane programmer adapter on a pseudo-terminal. The first line on
standard output is the pseudo-terminal's path; point a client there, e.g.
LINDPROG_COM1=PATH lindprog-cli info. Runs until SIGINT or SIGTERM.

  --scenario FILE    the adapter to play (JSON); without it the demo scenario
                     built into the program
  --link PATH        also make PATH a symbolic link to the pseudo-terminal
                     (removed at exit)
  --control PATH     take target control lines (attach, attach keep, detach)
                     on the Unix socket PATH
  --pace             model the 921600 baud line's timing
  --transcript FILE  write every frame to FILE
  --quiet            do not log frames to standard error
  -h, --help         print this help and exit
)";

struct TArguments {
    std::string Scenario;
    std::string Link;
    std::string Transcript;
    std::string Control;
    bool Pace = false;
    bool Quiet = false;
    bool Help = false;
};

int Fail(const std::string& message)
{
    std::cerr << "lindprog-sim: " << message << std::endl;
    return UsageExit;
}

// Returns an error message, or nullopt when the arguments were understood.
std::optional<std::string> ParseArguments(const std::vector<std::string_view>& args, TArguments& parsed)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.Help = true;
            return std::nullopt;
        }
        if (arg == "--pace") {
            parsed.Pace = true;
        } else if (arg == "--quiet") {
            parsed.Quiet = true;
        } else if (arg == "--scenario" || arg == "--link" || arg == "--transcript" || arg == "--control") {
            if (i + 1 == args.size())
                return std::string(arg) + " needs a value; " + Usage;
            std::string& target = arg == "--scenario"     ? parsed.Scenario
                                  : arg == "--link"       ? parsed.Link
                                  : arg == "--transcript" ? parsed.Transcript
                                                          : parsed.Control;
            target = args[++i];
        } else {
            return "unknown argument '" + std::string(arg) + "'; " + Usage;
        }
    }
    return std::nullopt;
}

// Blocks the stop signals in every thread (the serving thread inherits the
// mask) and returns a descriptor that reports them.
TFd StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return TFd(::signalfd(-1, &signals, SFD_CLOEXEC));
}

// Waits until a stop signal arrives or the simulator reports the port vanished.
void WaitForEnd(const TFd& signals, const TEventFd& vanished)
{
    pollfd fds[2] = {{signals.Get(), POLLIN, 0}, {vanished.Get(), POLLIN, 0}};
    int ready = 0;
    do {
        ready = ::poll(fds, 2, -1);
    } while (ready < 0 && errno == EINTR);
}

int Run(const TArguments& args)
{
    lindprog::sim::TScenario scenario;
    try {
        scenario = args.Scenario.empty() ? lindprog::sim::ParseScenarioText(lindprog::sim::DemoScenarioText())
                                         : lindprog::sim::LoadScenarioFile(args.Scenario);
    } catch (const lindprog::sim::TScenarioError& error) {
        const std::string name = args.Scenario.empty() ? "the demo scenario" : "scenario " + args.Scenario;
        return Fail(name + ": " + error.what());
    }
    const TFd signals = StopSignals();
    const TEventFd vanished;
    if (!signals.Valid() || !vanished.Valid())
        return Fail("cannot set up signal handling");

    TSimOptions options;
    options.Pace = args.Pace;
    options.TranscriptPath = args.Transcript;
    options.LinkPath = args.Link;
    if (!args.Quiet)
        options.Log = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    options.OnVanish = [&vanished] { vanished.Signal(); };

    TAdapterSim sim(std::move(scenario), std::move(options));
    if (!sim.Start()) {
        std::cerr << "lindprog-sim: " << sim.LastError() << std::endl;
        return 1;
    }
    lindprog::sim::TControlSocket control(
        [&sim](const std::string& line) { return lindprog::sim::ApplyControlLine(sim, line); });
    std::string failure;
    if (!args.Control.empty() && !control.Start(args.Control, failure)) {
        std::cerr << "lindprog-sim: " << failure << std::endl;
        return 1;
    }
    std::cout << sim.SlavePath() << std::endl;
    WaitForEnd(signals, vanished);
    control.Stop();
    sim.Stop();
    if (sim.Vanished())
        std::cerr << "lindprog-sim: the port vanished as the scenario asked" << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    TArguments parsed;
    if (const auto error = ParseArguments(args, parsed))
        return Fail(*error);
    if (parsed.Help) {
        std::cout << Usage << '\n' << Help;
        return 0;
    }
    return Run(parsed);
}
