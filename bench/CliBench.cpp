// lindprog-cli against simulators pacing the 921600-baud line: the speed of a
// 512 KiB read against the line's ceiling for 512-byte blocks sent back to
// back, and a 512 KiB program on one and on four adapters at once. Every
// process is a child, so the CPU time printed is the command line's alone.

#include "LineCeiling.h"
#include "SimProcess.h"
#include "core/link/Com.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace lindprog;

namespace {

constexpr std::uint32_t RegionSize = 512 * 1024;

struct TRun {
    int ExitCode = -1;
    double Seconds = 0.0;
    double CpuSeconds = 0.0;
    std::string Output;
};

std::string Scenario()
{
    return R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "BENCH", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": )" +
           std::to_string(RegionSize) + R"(, "fill": 90}]}]})";
}

TRun RunCli(std::vector<std::string> args, const std::string& outputFile)
{
    args.insert(args.begin(), LINDPROG_CLI_PATH);
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    TRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    run.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.CpuSeconds =
        usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ifstream in(outputFile);
    run.Output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

double LoggedSpeed(const std::string& output)
{
    const std::size_t line = output.find("Successfully read");
    const std::size_t at = output.find("speed ", line);
    return line == std::string::npos || at == std::string::npos ? -1.0 : std::atof(output.c_str() + at + 6);
}

TRun Program(int adapters, const std::string& folder, const std::string& image)
{
    std::vector<std::unique_ptr<bench::TSimProcess>> sims;
    std::vector<std::string> args{"program", "-q"};
    for (int k = 1; k <= adapters; ++k) {
        sims.push_back(std::make_unique<bench::TSimProcess>(Scenario(), std::vector<std::string>{"--pace"}));
        const std::string name = "LINDPROG_COM" + std::to_string(10 + k);
        ::setenv(name.c_str(), sims.back()->SlavePath().c_str(), 1);
        args.insert(args.end(), {"-p", "COM" + std::to_string(10 + k)});
    }
    args.push_back(image);
    return RunCli(args, folder + "/program.txt");
}

// A small firmware as Intel HEX at address 0: 16-byte data records, then the end record.
void WriteSmallHex(const std::string& path, std::size_t size)
{
    std::ofstream out(path);
    for (std::size_t at = 0; at < size; at += 16) {
        const std::size_t count = std::min<std::size_t>(16, size - at);
        unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
        char text[8];
        std::snprintf(text, sizeof text, ":%02X%04X", static_cast<unsigned>(count), static_cast<unsigned>(at));
        out << text << "00";
        for (std::size_t k = 0; k < count; ++k) {
            const unsigned byte = static_cast<unsigned>((at + k) * 3 + 1) & 0xFF;
            sum += byte;
            std::snprintf(text, sizeof text, "%02X", byte);
            out << text;
        }
        std::snprintf(text, sizeof text, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        out << text;
    }
    out << ":00000001FF\n";
}

} // namespace

int main()
{
    char folderTemplate[] = "/tmp/lindprog-cli-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    const std::string image = folder + "/image.bin";
    std::ofstream(image, std::ios::binary) << std::string(RegionSize, '\x5A');

    bench::TSimProcess sim(Scenario(), {"--pace"});
    ::setenv("LINDPROG_COM1", sim.SlavePath().c_str(), 1);
    const TRun read = RunCli({"read", "-p", "COM1", folder + "/read.bin"}, folder + "/read.txt");
    const double speed = LoggedSpeed(read.Output);
    const double ceiling = bench::ReadCeilingKBps();
    const double mib = RegionSize / (1024.0 * 1024.0);
    std::printf("lindprog-cli, 512 KiB, line paced at 921600 baud\n");
    std::printf("  read      %6.1f kB/s, ceiling %6.1f kB/s, ratio %.3f (target >= 0.95), CPU %.1f ms/MiB\n", speed,
                ceiling, speed / ceiling, read.CpuSeconds * 1000.0 / mib);

    const TRun one = Program(1, folder, image);
    const TRun four = Program(4, folder, image);
    std::printf("  program 1 adapter   %6.2f s, CPU %.1f ms/MiB\n", one.Seconds, one.CpuSeconds * 1000.0 / mib);
    std::printf("  program 4 adapters  %6.2f s, CPU %.1f ms/MiB, ratio to 1 adapter %.3f (target <= 1.15)\n",
                four.Seconds, four.CpuSeconds * 1000.0 / (4 * mib), four.Seconds / one.Seconds);

    // A 123-byte image: only its block is written and verified, the rest proven blank.
    const std::string hex = folder + "/small.hex";
    WriteSmallHex(hex, 123);
    const TRun sparse = RunCli({"program", "-q", "-p", "COM1", hex}, folder + "/sparse.txt");
    const TRun full = RunCli({"program", "-q", "-p", "COM1", "--full", hex}, folder + "/full.txt");
    std::printf("  program 123-byte HEX  %6.2f s, --full %6.2f s, ratio %.3f (target < 0.15)\n", sparse.Seconds,
                full.Seconds, sparse.Seconds / full.Seconds);
    std::filesystem::remove_all(folder);
    return read.ExitCode == 0 && one.ExitCode == 0 && four.ExitCode == 0 && sparse.ExitCode == 0 && full.ExitCode == 0
               ? 0
               : 1;
}
