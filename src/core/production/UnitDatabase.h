#pragma once
// The record of every unit a station programmed, and the serial numbers it
// gave them, in one SQLite file that several processes of one host may share.
//
// A serial number is reserved inside a transaction (BEGIN IMMEDIATE, so two
// processes never take the same free number) and counts as used only when
// its unit passed: a failed unit's number is returned and is the first one
// given out again. A reservation records its owner (process id, start time,
// boot); one whose owner is gone (crash, kill, power loss) is returned the
// next time the database is opened or a number is reserved. A unit's row and
// its number's fate are written in one transaction, in WAL mode, so a crash
// loses at most the unit under way.
//
// One object may serve several adapter threads: every call takes its lock.

#include "core/production/ProcessIdentity.h"
#include "core/production/Sqlite.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

// "2026-12-08T14:03:07.412Z": UTC, ISO 8601, milliseconds.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

struct TSerialLease {
    std::string Series; // the pool the number comes from: the job's name
    std::uint64_t Number = 0;
};

struct TUnitStep {
    std::string Title;  // "step 2 verify"
    std::string Result; // "passed", "failed", "unchanged" or "not run"
    std::string Line;   // the step's result line
};

struct TUnitRecord {
    std::int64_t Id = 0; // given by the database
    std::string Started; // UtcTimestamp
    std::string Ended;
    std::string Station;
    std::string Port;
    std::string Adapter;    // the adapter's identity text
    std::string Firmware;   // its firmware version
    std::string AdapterKey; // its key, eight hex digits
    std::string Device;
    std::string Job;
    std::string JobHash;
    std::vector<TUnitStep> Steps;
    std::optional<std::uint64_t> Serial;
    std::optional<std::uint32_t> ImageCrc;
    bool Passed = false;
    int ExitCode = 0;
    std::string FailedStep; // "step 2 verify"; empty when it passed
    std::string Message;    // why it failed
    double Seconds = 0.0;
};

struct TUnitStats {
    std::int64_t Units = 0;
    std::int64_t Passed = 0;
    std::map<std::string, std::int64_t> FailuresByStep;
    double UnitsPerHour = 0.0; // over the time from the first start to the last end
};

class TUnitDatabase {
public:
    // How long a call waits for another process's transaction.
    static constexpr int BusyMs = 10000;

    // Opens or creates the file, and returns numbers whose owners are gone.
    explicit TUnitDatabase(const std::string& path);

    // The next number of `series` for this process: a returned one first (the
    // lowest), else one step past the highest ever given, else `start`.
    // Throws TDatabaseError when the next one would pass `largest`.
    TSerialLease ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                               std::uint64_t largest);
    // Gives a reserved number back unused (a unit stopped before it ran).
    void ReturnSerial(const TSerialLease& lease);
    // Writes the unit's row and, in the same transaction, counts its number
    // as used when it passed or returns it when it failed. Returns the row id.
    std::int64_t RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease = std::nullopt);

    // The units whose start is at or after `since` (an ISO 8601 prefix is
    // enough: "2026-12-08"), oldest first; every unit for "".
    std::vector<TUnitRecord> Units(const std::string& since = "");
    // The newest `count` units, newest first.
    std::vector<TUnitRecord> LastUnits(int count);
    TUnitStats Stats(const std::string& since = "");

private:
    void CreateTables();
    void ReclaimOrphans(const std::string& series);

    std::mutex Lock;
    TSqlite Db;
    TProcessIdentity Owner;
};

} // namespace lindprog
