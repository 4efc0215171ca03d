// Times the whole-buffer commands on a 16 MiB buffer; each should stay well
// under 50 ms so the window never visibly stalls on the largest regions.

#include "core/base/Stm32Crc.h"
#include "core/buffer/Buffer.h"
#include "core/buffer/StringFinder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

using namespace lindprog;

namespace {

double BestOfFiveMs(const std::function<void()>& work)
{
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

} // namespace

int main()
{
    std::vector<std::uint8_t> buffer(16u << 20);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
    volatile std::uint32_t sink = 0;
    std::printf("whole-buffer commands on 16 MiB (best of 5, target < 50 ms each)\n");
    std::printf("  Swap bytes  %8.2f ms\n", BestOfFiveMs([&] { SwapBytes(buffer); }));
    std::printf("  Fill        %8.2f ms\n", BestOfFiveMs([&] { FillCounting(buffer); }));
    std::printf("  CRC         %8.2f ms\n", BestOfFiveMs([&] { sink = CrcUpdateBytes(CrcStart, buffer); }));
    // Code and data with few strings in them: the scan itself. Then an image
    // with 16 readable characters in every 64 bytes, where making the list costs.
    std::vector<std::uint8_t> image(16u << 20);
    std::uint32_t state = 1;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    std::size_t found = 0;
    const auto findStrings = [&](const char* kind) {
        const double ms = BestOfFiveMs([&] { found = FindStrings(image, DefaultMinStringLength).size(); });
        std::printf("  FindStrings %8.2f ms (%s: %zu strings of 4 or more)\n", ms, kind, found);
    };
    findStrings("code");
    for (std::size_t i = 0; i < image.size(); i += 64)
        for (std::size_t k = 0; k < 16; ++k)
            image[i + k] = static_cast<std::uint8_t>('A' + (i / 64 + k) % 26);
    findStrings("text");
    return sink == 1 || found == 0 ? 1 : 0;
}
