#pragma once
// Runs lindprog-cli as a user's script does: a child process with its own
// stdout and stderr (kept in files), in this test's environment, with the
// settings folder pointed into the test's scratch folder.

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lindprog::test {

class TCliProcess {
public:
    // input: a file for its stdin; none leaves the test's own.
    TCliProcess(const std::filesystem::path& folder, std::vector<std::string> args,
                const std::filesystem::path& input = {})
        : OutPath(folder / "stdout.txt"), ErrPath(folder / "stderr.txt")
    {
        std::vector<std::string> arguments{LINDPROG_CLI_PATH};
        arguments.insert(arguments.end(), args.begin(), args.end());
        std::vector<std::string> environment{"XDG_CONFIG_HOME=" + (folder / "config").string()};
        for (char** variable = environ; *variable != nullptr; ++variable)
            if (std::string(*variable).rfind("XDG_CONFIG_HOME=", 0) != 0)
                environment.emplace_back(*variable);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (!input.empty())
            posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, OutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, ErrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int spawned = posix_spawn(&Pid, arguments[0].c_str(), &actions, nullptr, Pointers(arguments).data(),
                                        Pointers(environment).data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << arguments[0];
            Pid = -1;
        }
    }
    ~TCliProcess()
    {
        if (Pid > 0 && !Ended) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
    }
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    void Signal(int signal) const { ::kill(Pid, signal); }

    // The exit code, or -1 when the process is still running at the timeout
    // (it is killed then) or was ended by a signal.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (Pid > 0 && !Ended) {
            const pid_t done = ::waitpid(Pid, &status, WNOHANG);
            if (done == Pid) {
                Ended = true;
                break;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "lindprog-cli did not end in time";
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return Ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Out() const { return ReadAll(OutPath); }
    std::string Err() const { return ReadAll(ErrPath); }

    // Every stdout line parsed as JSON; a line that is not JSON fails the test.
    std::vector<nlohmann::json> JsonLines() const
    {
        std::vector<nlohmann::json> objects;
        std::istringstream lines(Out());
        std::string line;
        while (std::getline(lines, line)) {
            const auto object = nlohmann::json::parse(line, nullptr, false);
            EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
            objects.push_back(object);
        }
        return objects;
    }

private:
    static std::vector<char*> Pointers(std::vector<std::string>& texts)
    {
        std::vector<char*> pointers;
        for (auto& text : texts)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }
    static std::string ReadAll(const std::filesystem::path& path)
    {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::filesystem::path OutPath;
    std::filesystem::path ErrPath;
    pid_t Pid = -1;
    bool Ended = false;
};

} // namespace lindprog::test
