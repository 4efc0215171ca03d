// lindprog-sim as a shell script would use it: slave path on stdout, --link,
// signals, exit codes and error lines.

#include "RawPort.h"
#include "sim/Scenario.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lindprog::sim::test {
namespace {

// A running lindprog-sim with its stdout and stderr captured.
class TChild {
public:
    explicit TChild(const std::vector<std::string>& args)
    {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> argvText{LINDPROG_SIM_EXE};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& arg : argvText)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&Pid, LINDPROG_SIM_EXE, &actions, nullptr, argv.data(), environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        OutPipe = out[0];
        ErrPipe = err[0];
    }
    ~TChild()
    {
        if (Pid > 0 && !Exited) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        ::close(OutPipe);
        ::close(ErrPipe);
    }

    bool Running() const { return Pid > 0; }
    void Signal(int signal) const { ::kill(Pid, signal); }

    std::optional<std::string> StdoutLine(std::chrono::milliseconds timeout)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{OutPipe, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            char c = 0;
            if (::read(OutPipe, &c, 1) != 1)
                return std::nullopt;
            if (c == '\n')
                return line;
            line.push_back(c);
        }
        return std::nullopt;
    }

    // Collects stderr until the process closes it, then reaps the exit code;
    // -1 when it did not end in time.
    int WaitForExit(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{ErrPipe, POLLIN, 0};
            if (::poll(&entry, 1, 20) <= 0)
                continue;
            char buffer[512];
            const ssize_t got = ::read(ErrPipe, buffer, sizeof buffer);
            if (got <= 0)
                break;
            StderrText.append(buffer, static_cast<std::size_t>(got));
        }
        int status = 0;
        if (::waitpid(Pid, &status, WNOHANG) != Pid && ::waitpid(Pid, &status, 0) != Pid)
            return -1;
        Exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    const std::string& Stderr() const { return StderrText; }

    // Whatever stdout still holds, up to its end; for a child that has exited.
    std::string RestOfStdout()
    {
        std::string text;
        char buffer[512];
        for (pollfd entry{OutPipe, POLLIN, 0}; ::poll(&entry, 1, 5000) == 1;) {
            const ssize_t got = ::read(OutPipe, buffer, sizeof buffer);
            if (got <= 0)
                break;
            text.append(buffer, static_cast<std::size_t>(got));
        }
        return text;
    }

private:
    pid_t Pid = -1;
    int OutPipe = -1;
    int ErrPipe = -1;
    bool Exited = false;
    std::string StderrText;
};

using lindprog::test::TScratchDir;

std::string WriteScenario(const TScratchDir& dir, const std::string& text)
{
    const auto path = (dir.Path / "scenario.json").string();
    std::ofstream(path) << text;
    return path;
}

std::string Demo()
{
    return std::string(LINDPROG_SIM_SCENARIOS) + "/demo.json";
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

int LineCount(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(SimCli, WithoutAScenarioPrintsTheSlavePathServesTheDemoThroughTheLinkAndCleansUp)
{
    const TScratchDir dir;
    const auto link = (dir.Path / "COM1").string();
    ASSERT_EQ(::symlink("/nonexistent/stale", link.c_str()), 0); // left over from a crash
    TChild child({"--link", link, "--quiet"});
    ASSERT_TRUE(child.Running());
    const auto slave = child.StdoutLine(5s);
    ASSERT_TRUE(slave);
    EXPECT_EQ(slave->rfind("/dev/pts/", 0), 0u) << *slave;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), *slave);

    TRawPort port(link);
    ASSERT_TRUE(port.IsOpen());
    port.Write(MakeFrame(5, TBytes{2}));
    const auto reply = port.ReadFrame();
    ASSERT_TRUE(reply);
    const std::string identity(reply->Payload.begin() + 2, reply->Payload.end() - 1);
    EXPECT_EQ(identity, "Corvane JTAG/Nexus Programmer");
    port.Write(MakeFrame(6, TBytes{6})); // the key tells the demo from the built-in defaults
    const auto key = port.ReadFrame();
    ASSERT_TRUE(key);
    EXPECT_EQ(LittleU32(key->Data(), 0), LoadScenarioFile(Demo()).Key);
    port.Close();

    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitForExit(5s), 0);
    EXPECT_FALSE(Exists(link));
    EXPECT_EQ(child.Stderr(), "");
}

TEST(SimCli, LogsFramesAndWritesTheTranscript)
{
    const TScratchDir dir;
    const auto transcript = (dir.Path / "transcript.txt").string();
    TChild child({"--scenario", Demo(), "--pace", "--transcript", transcript});
    const auto slave = child.StdoutLine(5s);
    ASSERT_TRUE(slave);
    {
        TRawPort port(*slave);
        port.Write(TBytes{0x1B, 0x01, 0x00, 0x01, 0x0E, 0x01, 0x14});
        ASSERT_TRUE(port.ReadFrame());
    }
    child.Signal(SIGINT);
    EXPECT_EQ(child.WaitForExit(5s), 0);
    EXPECT_NE(child.Stderr().find(" H>A 1B 01 00 01 0E 01 14\n"), std::string::npos) << child.Stderr();
    EXPECT_NE(child.Stderr().find(" A>H 1B 01 00 03 0E 01 00 03 15\n"), std::string::npos);
    std::ifstream file(transcript);
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(" A>H 1B 01 00 03 0E 01 00 03 15\n"), std::string::npos) << text;
}

TEST(SimCli, UsageErrorsExitWithTwoAndOneLine)
{
    const std::vector<std::vector<std::string>> cases{
        {"--scenario"}, {"--scenario", Demo(), "--bogus"}, {"--link"}, {"--pace", "stray"}};
    for (const auto& args : cases) {
        TChild child(args);
        EXPECT_EQ(child.WaitForExit(5s), 2);
        EXPECT_EQ(child.Stderr().rfind("lindprog-sim: ", 0), 0u) << child.Stderr();
        EXPECT_EQ(LineCount(child.Stderr()), 1) << child.Stderr();
    }
}

TEST(SimCli, HelpPrintsEveryOptionAndExitsWithZero)
{
    for (const auto& args : {std::vector<std::string>{"--help"}, {"--link", "/tmp/x", "-h"}}) {
        TChild child(args);
        EXPECT_EQ(child.WaitForExit(5s), 0);
        const std::string help = child.RestOfStdout();
        for (const char* option : {"--scenario", "--link", "--control", "--pace", "--transcript", "--quiet"})
            EXPECT_NE(help.find(option), std::string::npos) << option << " missing from\n" << help;
        EXPECT_EQ(child.Stderr(), "");
    }
}

TEST(SimCli, BadScenarioNamesTheField)
{
    const TScratchDir dir;
    const auto path = WriteScenario(dir, R"({"devices": [{"name": "X", "regions": [{"name": "R", "flags": 7}]}]})");
    TChild child({"--scenario", path});
    EXPECT_EQ(child.WaitForExit(5s), 2);
    EXPECT_NE(child.Stderr().find("devices[0].regions[0].size: missing"), std::string::npos) << child.Stderr();
    EXPECT_EQ(LineCount(child.Stderr()), 1);

    TChild missing({"--scenario", "/nonexistent/scenario.json"});
    EXPECT_EQ(missing.WaitForExit(5s), 2);
    EXPECT_NE(missing.Stderr().find("cannot open"), std::string::npos);
}

TEST(SimCli, ExitsByItselfWhenThePortVanishes)
{
    const TScratchDir dir;
    const auto path = WriteScenario(dir, R"({"vanish_after": 2})");
    const auto link = (dir.Path / "COM2").string();
    TChild child({"--scenario", path, "--link", link, "--quiet"});
    ASSERT_TRUE(child.StdoutLine(5s));
    TRawPort port(link);
    port.Write(MakeFrame(1, TBytes{1}));
    ASSERT_TRUE(port.ReadFrame());
    port.Write(MakeFrame(2, TBytes{1}));
    EXPECT_TRUE(port.WaitForHangUp(5s));
    EXPECT_EQ(child.WaitForExit(5s), 0);
    EXPECT_FALSE(Exists(link));
}

// A script's end of the control socket: one line out, the answer back.
class TControlClient {
public:
    explicit TControlClient(const std::string& path) : Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        Connected = ::connect(Fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~TControlClient() { ::close(Fd); }

    std::string Say(const std::string& line)
    {
        const std::string text = line + "\n";
        if (::write(Fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            return "write failed";
        std::string answer;
        char c = 0;
        for (pollfd entry{Fd, POLLIN, 0}; ::poll(&entry, 1, 5000) == 1 && ::read(Fd, &c, 1) == 1 && c != '\n';)
            answer.push_back(c);
        return answer;
    }

    bool Connected = false;

private:
    int Fd;
};

TEST(SimCli, ControlSocketTakesTheTargetAwayAndBringsANewOrTheSameOneBack)
{
    const TScratchDir dir;
    auto scenario = OneRegion(16);
    scenario["target"] = "detached";
    scenario["jtag"] = nlohmann::json::parse(R"({"count": 1, "ir_length": 5, "ids": [305419896]})");
    scenario["devices"][0]["regions"][0]["contents"] = nlohmann::json::parse(R"([{"offset": 0, "hex": "0011"}])");
    const auto socket = (dir.Path / "control").string();
    TChild child({"--scenario", WriteScenario(dir, scenario.dump()), "--control", socket, "--quiet"});
    const auto slave = child.StdoutLine(5s);
    ASSERT_TRUE(slave);
    TRawPort port(*slave);
    std::uint8_t sequence = 0;
    const auto call = [&](const TBytes& payload) {
        port.Write(MakeFrame(++sequence, payload));
        TRawFrame none; // no answer: an empty chain, a failed status
        none.Payload = {0, 0xFF, 0, 0, 0, 0};
        return port.ReadFrame().value_or(none);
    };
    const auto chainLength = [&] { return LittleU32(call(TBytes{176}).Data(), 0); };
    const auto firstBytes = [&] {
        call(StartOperation(0, 0, 0));
        return call(Block(161, 0, 2)).Data();
    };

    EXPECT_EQ(chainLength(), 0u);
    EXPECT_EQ(call(StartOperation(0, 0, 0)).Status(), 10); // "Device not found"
    TControlClient control(socket);
    ASSERT_TRUE(control.Connected);
    EXPECT_EQ(control.Say("attach"), "ok");
    EXPECT_EQ(chainLength(), 1u);
    EXPECT_EQ(call(StartOperation(0, 0, 1)).Status(), 0);
    EXPECT_EQ(call(Block(162, 0, 2, TBytes{0xAB, 0xCD})).Status(), 0);
    EXPECT_EQ(control.Say("detach"), "ok");
    EXPECT_EQ(chainLength(), 0u);
    EXPECT_EQ(control.Say("attach keep"), "ok");
    EXPECT_EQ(firstBytes(), (TBytes{0xAB, 0xCD}));
    EXPECT_EQ(control.Say("detach"), "ok");
    EXPECT_EQ(control.Say("attach"), "ok");
    EXPECT_EQ(firstBytes(), (TBytes{0x00, 0x11}));
    EXPECT_EQ(control.Say("reboot").rfind("error: unknown command 'reboot'", 0), 0u);
    child.Signal(SIGTERM);
    EXPECT_EQ(child.WaitForExit(5s), 0);
    EXPECT_FALSE(Exists(socket));
}

} // namespace
} // namespace lindprog::sim::test
