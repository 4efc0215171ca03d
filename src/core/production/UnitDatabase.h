#pragma once
// The record of every unit a station programmed, and the pool of serial
// numbers it gave them. Two kinds behind one interface: a SQLite file that
// the ports and processes of one host share (the default), and a PostgreSQL
// database that every station of a line shares over the network.
//
// The rules are the same in both: a serial number counts as used only when
// its unit passed; a failed unit's number, or one whose owner died before
// its unit ended, is the first one given out again; a unit's row and its
// number's fate are written in one transaction, so nothing is recorded as
// passed that the database did not commit. Every call may throw
// TDatabaseError; one object may serve several adapter threads.

#include "core/production/DatabaseError.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lindprog {

// "2026-12-08T14:03:07.412Z": UTC, ISO 8601, milliseconds.
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

struct TSerialLease {
    std::string Series; // the pool the number comes from: the job's name
    std::uint64_t Number = 0;
    std::int64_t Token = 0; // the database's own hold on the reservation
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

// The steps column: a JSON array of {step, result, line}.
std::string StepsJson(const std::vector<TUnitStep>& steps);
std::vector<TUnitStep> StepsFromJson(const std::string& text);

// The image_crc column as the databases keep it and every export shows it:
// eight upper-case hex digits, so a query in sqlite3 or psql reads as the
// log, the verdict and the CSV do. Text that is no such CRC gives none.
std::string ImageCrcText(std::uint32_t crc);
std::optional<std::uint32_t> ImageCrcOf(const std::string& text);

struct TUnitStats {
    std::int64_t Units = 0;
    std::int64_t Passed = 0;
    std::map<std::string, std::int64_t> FailuresByStep;
    double UnitsPerHour = 0.0; // over the time from the first start to the last end
};

// The counts of these units.
TUnitStats StatsOf(const std::vector<TUnitRecord>& units);
// The same for each station, by its name.
std::vector<std::pair<std::string, TUnitStats>> StatsByStation(const std::vector<TUnitRecord>& units);

class TUnitDatabase {
public:
    virtual ~TUnitDatabase() = default;

    // The next number of `series` for this station: a returned one first
    // (the lowest), else one step past the highest ever given, else `start`.
    // Throws when the next one would pass `largest`.
    virtual TSerialLease ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                                       std::uint64_t largest) = 0;
    // Gives a reserved number back unused (a unit stopped before it ran).
    virtual void ReturnSerial(const TSerialLease& lease) = 0;
    // Writes the unit's row and, in the same transaction, counts its number
    // as used when it passed or returns it when it failed. Returns the row id.
    virtual std::int64_t RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease) = 0;

    // The units whose start is at or after `since` (an ISO 8601 prefix is
    // enough: "2026-12-08"), oldest first; every unit for "".
    virtual std::vector<TUnitRecord> Units(const std::string& since = "") = 0;
    // The newest `count` units, newest first.
    virtual std::vector<TUnitRecord> LastUnits(int count) = 0;
    TUnitStats Stats(const std::string& since = "") { return StatsOf(Units(since)); }

    // After a TDatabaseError that was Lost: one attempt to reach the server
    // again; true when it answers. A file is always there.
    virtual bool Reconnect() { return true; }
    // Where the records are, as logs and the window may show it: a file's
    // path, a server's URI without its password.
    virtual std::string Where() const = 0;
};

// "postgresql://..." or "postgres://...": a server's database; else a file.
bool IsServerDatabase(const std::string& where);
// The URI with any password left out ("postgresql://line:secret@db/units"
// gives "postgresql://line@db/units"); a file's path as it is.
std::string WithoutPassword(const std::string& where);
// Opens (and creates where missing) the database at `where`.
std::unique_ptr<TUnitDatabase> OpenUnitDatabase(const std::string& where);

} // namespace lindprog
