// Times loading (read and place) and saving a 16 MiB image as Intel HEX and
// S-records, and loading it as ELF, in MB/s of file; the largest regions must
// open and save in well under a second, so each should reach 100 MB/s.

#include "core/buffer/ImageFile.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

using namespace lindprog;

namespace {

constexpr std::uint64_t Base = 0x8000000;
constexpr double TargetMBs = 100.0;

double BestOfFiveSeconds(const std::function<void()>& work)
{
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

void Report(const char* what, std::size_t fileBytes, double seconds)
{
    std::printf("  %-18s %8.1f MB/s of %6.1f MB file (%6.1f ms, target >= %.0f MB/s)\n", what,
                static_cast<double>(fileBytes) / seconds / 1e6, static_cast<double>(fileBytes) / 1e6, seconds * 1e3,
                TargetMBs);
}

// A little-endian ELF64 file with the image as one loadable segment.
std::vector<std::uint8_t> MakeElf(const std::vector<std::uint8_t>& image)
{
    constexpr std::size_t DataOffset = 64 + 56;
    std::vector<std::uint8_t> elf(DataOffset, 0);
    const auto put = [&](std::size_t at, std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            elf[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[4] = 2, elf[5] = 1;
    put(32, 64, 8);
    put(54, 56, 2);
    put(56, 1, 2);
    put(64, 1, 4);
    put(64 + 8, DataOffset, 8);
    put(64 + 24, Base, 8);
    put(64 + 32, image.size(), 8);
    put(64 + 40, image.size(), 8);
    elf.insert(elf.end(), image.begin(), image.end());
    return elf;
}

void Load(const char* what, const std::vector<std::uint8_t>& file, const std::vector<std::uint8_t>& expected)
{
    std::vector<std::uint8_t> region(expected.size());
    const double seconds = BestOfFiveSeconds([&] { PlaceImage(ParseImage(file), Base, region); });
    Report(what, file.size(), seconds);
    if (region != expected)
        std::printf("  %s: the loaded bytes differ from the image!\n", what);
}

} // namespace

int main()
{
    std::vector<std::uint8_t> image(16u << 20);
    std::uint32_t state = 1;
    for (auto& byte : image) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    std::printf("16 MiB image at 0x%llX (best of 5)\n", static_cast<unsigned long long>(Base));
    std::string hex;
    std::string srec;
    const double hexSeconds = BestOfFiveSeconds([&] { hex = WriteIntelHex(image, Base); });
    Report("save Intel HEX", hex.size(), hexSeconds);
    const double srecSeconds = BestOfFiveSeconds([&] { srec = WriteSRecord(image, Base); });
    Report("save S-record", srec.size(), srecSeconds);
    Load("load Intel HEX", std::vector<std::uint8_t>(hex.begin(), hex.end()), image);
    Load("load S-record", std::vector<std::uint8_t>(srec.begin(), srec.end()), image);
    Load("load ELF", MakeElf(image), image);
    return 0;
}
