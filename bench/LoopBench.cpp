// The production loop on simulators pacing the 921600-baud line: how long a
// unit waits on the loop itself, and how well several stations share one
// computer. lindprog-cli runs a job with a serial number in --loop; a hand per
// simulator places a board, takes it away once its unit is done and places
// the next once the loop has seen the chain empty.
//
// Per unit it prints, as median and maximum over the units:
// - from the board's arrival to the first block request of the unit (the
//   chain poll, the serial allocation, the start requests);
// - from the unit's last request to its verdict line (closing the record).
// Then units per hour of 4 ports against 4 times one port.

#include "LoopRig.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

using namespace lindprog::bench;

namespace {

constexpr int Units = 20;

TLoopRun Stations(const std::string& folder, int count)
{
    std::filesystem::remove(folder + "/job.db");
    std::vector<std::unique_ptr<TStation>> stations;
    for (int k = 1; k <= count; ++k)
        stations.push_back(std::make_unique<TStation>(k));
    return RunLoop(WriteJob(folder), stations, Units);
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    char folderTemplate[] = "/tmp/lindprog-loop-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

    const TLoopRun one = Stations(folder, 1);
    const auto [firstMedian, firstMax] = MedianAndMax(one.ToFirstBlock);
    const auto [verdictMedian, verdictMax] = MedianAndMax(one.ToVerdict);
    std::printf("lindprog-cli run --loop, %d units, 123-byte HEX with a serial into %u KiB, paced line\n", Units,
                RegionSize / 1024);
    std::printf("  board placed -> first block   median %.3f s, max %.3f s (target < 0.3)\n", firstMedian, firstMax);
    std::printf("  last request -> verdict line  median %.3f s, max %.3f s (target < 0.3)\n", verdictMedian,
                verdictMax);
    std::printf("  unit as its verdict gives it  median %.3f s, max %.3f s\n", MedianAndMax(one.UnitSeconds).first,
                MedianAndMax(one.UnitSeconds).second);
    const double perHourOne = one.Passed * 3600.0 / one.Seconds;

    const TLoopRun four = Stations(folder, 4);
    const double perHourFour = four.Passed * 3600.0 / four.Seconds;
    std::printf("  units per hour: 1 port %.0f (%d passed), 4 ports %.0f (%d passed), ratio to 4 x 1 port %.3f "
                "(target >= 0.9)\n",
                perHourOne, one.Passed, perHourFour, four.Passed, perHourFour / (4 * perHourOne));
    std::filesystem::remove_all(folder);
    return one.Passed == Units && four.Passed == 4 * Units ? 0 : 1;
}
