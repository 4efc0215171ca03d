// Reads a 512 KiB region through the endpoint in 512-byte blocks, with no
// pause between blocks, from the simulator pacing the 921600-baud line, and
// prints the payload rate, the line-rate ceiling, their ratio and the client's
// CPU time per MiB.

#include "SimProcess.h"
#include "core/base/UiDispatcher.h"
#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"
#include "core/link/PortNames.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace lindprog;
using namespace std::chrono;

namespace {

constexpr std::uint32_t RegionSize = 512 * 1024;
constexpr std::uint16_t BlockSize = 512;
constexpr double BitsPerByte = 10.0; // start, 8 data, stop

struct TCpu {
    double User = 0;
    double System = 0;
    long ContextSwitches = 0;
};

TCpu CpuNow()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return {static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6,
            static_cast<double>(usage.ru_stime.tv_sec) + static_cast<double>(usage.ru_stime.tv_usec) / 1e6,
            usage.ru_nvcsw + usage.ru_nivcsw};
}

std::string Scenario()
{
    return R"({"identity": "Bench", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "BENCH", "voltages": 1, "regions": [
        {"name": "Flash", "flags": 7, "size": )" +
           std::to_string(RegionSize) + R"(, "fill": 90}]}]})";
}

double LineCeilingKBps()
{
    const double requestFrame = 5 + BlockHeadSize + 1;
    const double replyFrame = 5 + 2 + BlockSize + 1;
    const double seconds = (requestFrame + replyFrame) * BitsPerByte / TCom::BaudRate;
    return BlockSize / seconds / 1024.0;
}

// CPU time of the cheapest hand-over there is: one thread sleeps in poll on a
// pipe until the other writes a byte, 2048 times (one per 512-byte block of a
// MiB). No design with a blocking wait per block can cost less per MiB.
double WakeFloorMsPerMiB()
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return -1;
    constexpr int Blocks = 2048;
    const TCpu before = CpuNow();
    std::thread sleeper([&] {
        char byte = 0;
        for (int i = 0; i < Blocks; ++i) {
            pollfd wait{pipeFds[0], POLLIN, 0};
            ::poll(&wait, 1, -1);
            [[maybe_unused]] auto got = ::read(pipeFds[0], &byte, 1);
        }
    });
    for (int i = 0; i < Blocks; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(200)); // let it fall asleep
        [[maybe_unused]] auto put = ::write(pipeFds[1], "x", 1);
    }
    sleeper.join();
    const TCpu after = CpuNow();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    // The writer's own sleeps cost a wake each as well: count half.
    return (after.User + after.System - before.User - before.System) * 1000.0 / 2.0;
}

} // namespace

int main()
{
    bench::TSimProcess sim(Scenario(), {"--pace"});
    ::setenv("LINDPROG_COM1", sim.SlavePath().c_str(), 1);
    TPortNames names(TPortNames::DefaultAssignmentsFile());
    TQueueDispatcher dispatcher;
    TDevicePort port(names, dispatcher);
    if (!port.Open(1) || !port.SendRequest(BuildStartOperation(0, 0, TOperation::Read, 4, 1))) {
        std::fprintf(stderr, "cannot reach the simulator: %s\n", port.StatusText().c_str());
        return 1;
    }

    std::vector<std::uint8_t> buffer(RegionSize);
    const TCpu cpuBefore = CpuNow();
    const auto start = steady_clock::now();
    for (std::uint32_t offset = 0; offset < RegionSize; offset += BlockSize) {
        if (!port.ReadBlock(offset, BlockSize, std::span(buffer).subspan(offset))) {
            std::fprintf(stderr, "read failed at %X: %s\n", offset, port.StatusText().c_str());
            return 1;
        }
    }
    const double seconds = duration<double>(steady_clock::now() - start).count();
    const TCpu cpuAfter = CpuNow();
    const double user = cpuAfter.User - cpuBefore.User;
    const double system = cpuAfter.System - cpuBefore.System;
    const double blocks = RegionSize / BlockSize;
    const double perMiB = 1024.0 * 1024.0 / RegionSize;
    if (!std::all_of(buffer.begin(), buffer.end(), [](std::uint8_t b) { return b == 90; })) {
        std::fprintf(stderr, "the data read is wrong\n");
        return 1;
    }

    const double rate = RegionSize / seconds / 1024.0;
    const double ceiling = LineCeilingKBps();
    std::printf("endpoint read of 512 KiB in 512-byte blocks, line paced at 921600 baud\n");
    std::printf("  payload rate      %8.1f kB/s\n", rate);
    std::printf("  line ceiling      %8.1f kB/s\n", ceiling);
    std::printf("  ratio             %8.3f   (target >= 0.9)\n", rate / ceiling);
    std::printf("  client CPU        %8.1f ms per MiB   (target <= 30): user %.1f, system %.1f\n",
                (user + system) * 1000.0 * perMiB, user * 1000.0 * perMiB, system * 1000.0 * perMiB);
    std::printf("  context switches  %8.1f per block (requester wait + receiver wakes)\n",
                static_cast<double>(cpuAfter.ContextSwitches - cpuBefore.ContextSwitches) / blocks);

    std::printf("  wake-up floor     %8.1f ms per MiB   (one sleep/wake per block on this machine)\n",
                WakeFloorMsPerMiB());

    std::vector<double> closeMs;
    for (int round = 0; round < 20; ++round) {
        port.Open(1);
        port.GetMode();
        const auto closeStart = steady_clock::now();
        port.Close();
        closeMs.push_back(duration<double, std::milli>(steady_clock::now() - closeStart).count());
    }
    std::sort(closeMs.begin(), closeMs.end());
    std::printf("  Close, idle port  %8.2f ms median, %.2f ms worst   (target < 50)\n", closeMs[closeMs.size() / 2],
                closeMs.back());
    return 0;
}
