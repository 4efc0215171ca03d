// A line's shared PostgreSQL database, measured on pg_virtualenv's local
// server (the PG* variables name it):
// - what the database adds to a unit: reserving its serial number and
//   recording it, each as median and maximum over 100 units, beside the
//   same on a SQLite file;
// - 8 ports of one `lindprog-cli run --loop` against one server, in units
//   per hour against 8 times one port on it.

#include "LoopRig.h"
#include "core/production/Postgres.h"
#include "core/production/UnitDatabase.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

using namespace lindprog;
using namespace lindprog::bench;

namespace {

constexpr int OverheadUnits = 100;
constexpr int LoopUnits = 10; // per port
constexpr int LinePorts = 8;

std::string FreshServerDatabase()
{
    static int made = 0;
    const std::string name = "lindprog_bench_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    TPgConnection("postgresql://").Execute("CREATE DATABASE " + name);
    return "postgresql:///" + name;
}

// A passed unit as a two-step job records it.
TUnitRecord PassedUnit(int unit, const TSerialLease& lease)
{
    TUnitRecord record;
    record.Started = record.Ended = UtcTimestamp(std::chrono::system_clock::now());
    record.Station = "bench";
    record.Port = "COM21";
    record.Adapter = "Bench";
    record.Firmware = "1.18";
    record.AdapterKey = "00000001";
    record.Device = "BENCH";
    record.Job = "bench";
    record.JobHash = "0123456789abcdef";
    record.Steps = {{"step 1 program", "passed", "Programming successfull"},
                    {"step 2 verify", "passed", "Verify OK, unit " + std::to_string(unit)}};
    record.Serial = lease.Number;
    record.ImageCrc = 0x12345678;
    record.Passed = true;
    record.Seconds = 1.0;
    return record;
}

struct TOverhead {
    std::vector<double> Reserve, Record; // milliseconds, per unit
};

TOverhead Overhead(TUnitDatabase& database)
{
    TOverhead overhead;
    const auto since = [](TClock::time_point start) {
        return std::chrono::duration<double, std::milli>(TClock::now() - start).count();
    };
    for (int unit = 1; unit <= OverheadUnits; ++unit) {
        auto start = TClock::now();
        const TSerialLease lease = database.ReserveSerial("bench", 1, 1, std::numeric_limits<std::uint32_t>::max());
        overhead.Reserve.push_back(since(start));
        const TUnitRecord record = PassedUnit(unit, lease);
        start = TClock::now();
        database.RecordUnit(record, lease);
        overhead.Record.push_back(since(start));
    }
    return overhead;
}

void PrintOverhead(const char* what, const std::vector<double>& file, const std::vector<double>& server)
{
    const auto [fileMedian, fileMax] = MedianAndMax(file);
    const auto [serverMedian, serverMax] = MedianAndMax(server);
    std::printf("  %-8s PostgreSQL median %.2f ms, max %.2f ms (target < 20); SQLite median %.2f ms, max %.2f ms\n",
                what, serverMedian, serverMax, fileMedian, fileMax);
}

TLoopRun Ports(const std::string& folder, int count)
{
    std::vector<std::unique_ptr<TStation>> stations;
    for (int k = 1; k <= count; ++k)
        stations.push_back(std::make_unique<TStation>(k));
    return RunLoop(WriteJob(folder), stations, LoopUnits, {"--db", FreshServerDatabase(), "--station", "bench"});
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (std::getenv("PGHOST") == nullptr) {
        std::fprintf(stderr, "lindprog-bench-line: no PostgreSQL server; run it as pg_virtualenv -t %s\n",
                     LINDPROG_BENCH_NAME);
        return 2;
    }
    char folderTemplate[] = "/tmp/lindprog-line-bench-XXXXXX";
    const std::string folder = ::mkdtemp(folderTemplate);
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);

    TOverhead file, server;
    try {
        file = Overhead(*OpenUnitDatabase(folder + "/units.db"));
        server = Overhead(*OpenUnitDatabase(FreshServerDatabase()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lindprog-bench-line: %s\n", error.what());
        return 1;
    }
    std::printf("unit database, %d units, each reserving a serial number and recording a passed unit\n", OverheadUnits);
    PrintOverhead("reserve", file.Reserve, server.Reserve);
    PrintOverhead("record", file.Record, server.Record);

    const TLoopRun one = Ports(folder, 1);
    const TLoopRun line = Ports(folder, LinePorts);
    const double perHourOne = one.Passed * 3600.0 / one.Seconds;
    const double perHourLine = line.Passed * 3600.0 / line.Seconds;
    std::printf("lindprog-cli run --loop on the server, %d units per port, paced line\n", LoopUnits);
    std::printf("  units per hour: 1 port %.0f (%d passed), %d ports %.0f (%d passed), ratio to %d x 1 port %.3f "
                "(target >= 0.9)\n",
                perHourOne, one.Passed, LinePorts, perHourLine, line.Passed, LinePorts,
                perHourLine / (LinePorts * perHourOne));
    std::filesystem::remove_all(folder);
    return one.Passed == LoopUnits && line.Passed == LinePorts * LoopUnits ? 0 : 1;
}
