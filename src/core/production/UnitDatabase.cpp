#include "core/production/UnitDatabase.h"

#include "core/base/TextFormat.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <ctime>
#include <limits>
#include <thread>

namespace lindprog {

namespace {

constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS units(
  id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL, station TEXT, port TEXT, adapter TEXT,
  firmware TEXT, adapter_key TEXT, device TEXT, job TEXT, job_hash TEXT, steps TEXT, serial INTEGER,
  image_crc INTEGER, result TEXT NOT NULL, exit_code INTEGER, failed_step TEXT, message TEXT, seconds REAL);
CREATE INDEX IF NOT EXISTS units_started ON units(started);
CREATE TABLE IF NOT EXISTS serials(
  series TEXT NOT NULL, number INTEGER NOT NULL, state TEXT NOT NULL,
  owner_pid INTEGER, owner_start TEXT, owner_boot TEXT, PRIMARY KEY(series, number));
)";

constexpr const char* UnitColumns = "id, started, ended, station, port, adapter, firmware, adapter_key, device, "
                                    "job, job_hash, steps, serial, image_crc, result, exit_code, failed_step, "
                                    "message, seconds";

// SQLite's integers are signed 64 bits; serial numbers stay below that.
constexpr std::uint64_t MaxStored = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

std::string StepsJson(const std::vector<TUnitStep>& steps)
{
    nlohmann::json list = nlohmann::json::array();
    for (const TUnitStep& step : steps)
        list.push_back({{"step", step.Title}, {"result", step.Result}, {"line", step.Line}});
    return list.dump();
}

std::vector<TUnitStep> StepsFrom(const std::string& text)
{
    std::vector<TUnitStep> steps;
    const auto list = nlohmann::json::parse(text, nullptr, false);
    if (!list.is_array())
        return steps;
    for (const auto& step : list)
        steps.push_back({step.value("step", ""), step.value("result", ""), step.value("line", "")});
    return steps;
}

TUnitRecord RecordFrom(const TStatement& row)
{
    TUnitRecord record;
    record.Id = row.Integer(0);
    record.Started = row.Text(1);
    record.Ended = row.Text(2);
    record.Station = row.Text(3);
    record.Port = row.Text(4);
    record.Adapter = row.Text(5);
    record.Firmware = row.Text(6);
    record.AdapterKey = row.Text(7);
    record.Device = row.Text(8);
    record.Job = row.Text(9);
    record.JobHash = row.Text(10);
    record.Steps = StepsFrom(row.Text(11));
    if (const auto serial = row.OptionalInteger(12))
        record.Serial = static_cast<std::uint64_t>(*serial);
    if (const auto crc = row.OptionalInteger(13))
        record.ImageCrc = static_cast<std::uint32_t>(*crc);
    record.Passed = row.Text(14) == "PASS";
    record.ExitCode = static_cast<int>(row.Integer(15));
    record.FailedStep = row.Text(16);
    record.Message = row.Text(17);
    record.Seconds = row.Real(18);
    return record;
}

void BindRecord(TStatement& insert, const TUnitRecord& record)
{
    const std::string texts[] = {record.Started, record.Ended,    record.Station,         record.Port,
                                 record.Adapter, record.Firmware, record.AdapterKey,      record.Device,
                                 record.Job,     record.JobHash,  StepsJson(record.Steps)};
    int column = 1;
    for (const std::string& text : texts)
        insert.Bind(column++, text);
    if (record.Serial)
        insert.Bind(column++, static_cast<std::int64_t>(*record.Serial));
    else
        insert.BindNull(column++);
    if (record.ImageCrc)
        insert.Bind(column++, static_cast<std::int64_t>(*record.ImageCrc));
    else
        insert.BindNull(column++);
    insert.Bind(column++, std::string(record.Passed ? "PASS" : "FAIL"));
    insert.Bind(column++, static_cast<std::int64_t>(record.ExitCode));
    insert.Bind(column++, record.FailedStep);
    insert.Bind(column++, record.Message);
    insert.Bind(column, record.Seconds);
}

} // namespace

std::string UtcTimestamp(std::chrono::system_clock::time_point time)
{
    const auto since = time.time_since_epoch();
    const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since).count();
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(since).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour,
                  utc.tm_min, utc.tm_sec, static_cast<int>(millis));
}

TUnitDatabase::TUnitDatabase(const std::string& path) : Db(path, BusyMs), Owner(TProcessIdentity::Current())
{
    std::lock_guard guard(Lock);
    // WAL: a crash loses at most the transaction under way, and readers
    // (an export, the window's list) never block a station writing. Two
    // stations opening a new database at once race for the switch to WAL,
    // and SQLite reports that as busy without waiting: it is tried again.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyMs);
    for (;;) {
        try {
            Db.Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;");
            break;
        } catch (const TDatabaseError&) {
            if (std::chrono::steady_clock::now() > giveUp)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    CreateTables();
    TTransaction transaction(Db);
    ReclaimOrphans("");
    transaction.Commit();
}

void TUnitDatabase::CreateTables()
{
    TTransaction transaction(Db);
    Db.Execute(Schema);
    transaction.Commit();
}

void TUnitDatabase::ReclaimOrphans(const std::string& series)
{
    TStatement reserved(Db, "SELECT series, number, owner_pid, owner_start, owner_boot FROM serials "
                            "WHERE state = 'reserved' AND (?1 = '' OR series = ?1)");
    reserved.Bind(1, series);
    TStatement release(Db, "UPDATE serials SET state = 'free', owner_pid = NULL, owner_start = NULL, "
                           "owner_boot = NULL WHERE series = ?1 AND number = ?2");
    while (reserved.Step()) {
        const TProcessIdentity owner{reserved.Integer(2), reserved.Text(3), reserved.Text(4)};
        if (owner.Alive())
            continue;
        release.Bind(1, reserved.Text(0)).Bind(2, reserved.Integer(1));
        release.Step();
        release.Reset();
    }
}

TSerialLease TUnitDatabase::ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                                          std::uint64_t largest)
{
    std::lock_guard guard(Lock);
    TTransaction transaction(Db);
    ReclaimOrphans(series);
    TStatement returned(Db, "SELECT min(number) FROM serials WHERE series = ?1 AND state = 'free'");
    returned.Bind(1, series).Step();
    std::optional<std::int64_t> number = returned.OptionalInteger(0);
    if (!number) {
        TStatement highest(Db, "SELECT max(number) FROM serials WHERE series = ?1");
        highest.Bind(1, series).Step();
        const auto last = highest.OptionalInteger(0);
        const std::uint64_t next = last ? static_cast<std::uint64_t>(*last) + step : start;
        if ((last && next < static_cast<std::uint64_t>(*last)) || next > largest || next > MaxStored)
            throw TDatabaseError("the serial numbers of '" + series + "' are used up (the last was " +
                                 std::to_string(last.value_or(0)) + ")");
        number = static_cast<std::int64_t>(next);
    }
    TStatement take(Db, "INSERT INTO serials(series, number, state, owner_pid, owner_start, owner_boot) "
                        "VALUES(?1, ?2, 'reserved', ?3, ?4, ?5) ON CONFLICT(series, number) DO UPDATE SET "
                        "state = 'reserved', owner_pid = ?3, owner_start = ?4, owner_boot = ?5");
    take.Bind(1, series).Bind(2, *number).Bind(3, Owner.Pid).Bind(4, Owner.Start).Bind(5, Owner.Boot).Step();
    transaction.Commit();
    return {series, static_cast<std::uint64_t>(*number)};
}

void TUnitDatabase::ReturnSerial(const TSerialLease& lease)
{
    std::lock_guard guard(Lock);
    TStatement release(Db, "UPDATE serials SET state = 'free', owner_pid = NULL, owner_start = NULL, "
                           "owner_boot = NULL WHERE series = ?1 AND number = ?2 AND state = 'reserved'");
    release.Bind(1, lease.Series).Bind(2, static_cast<std::int64_t>(lease.Number)).Step();
}

std::int64_t TUnitDatabase::RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease)
{
    std::lock_guard guard(Lock);
    TTransaction transaction(Db);
    TStatement insert(Db, std::string("INSERT INTO units(") + (UnitColumns + 4) +
                              ") VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, "
                              "?17, ?18)");
    BindRecord(insert, record);
    insert.Step();
    const std::int64_t id = Db.LastInsertId();
    if (lease) {
        TStatement settle(Db, "UPDATE serials SET state = ?3, owner_pid = NULL, owner_start = NULL, "
                              "owner_boot = NULL WHERE series = ?1 AND number = ?2");
        settle.Bind(1, lease->Series).Bind(2, static_cast<std::int64_t>(lease->Number));
        settle.Bind(3, std::string(record.Passed ? "used" : "free")).Step();
    }
    transaction.Commit();
    return id;
}

std::vector<TUnitRecord> TUnitDatabase::Units(const std::string& since)
{
    std::lock_guard guard(Lock);
    TStatement select(Db, std::string("SELECT ") + UnitColumns + " FROM units WHERE started >= ?1 ORDER BY id");
    select.Bind(1, since);
    std::vector<TUnitRecord> records;
    while (select.Step())
        records.push_back(RecordFrom(select));
    return records;
}

std::vector<TUnitRecord> TUnitDatabase::LastUnits(int count)
{
    std::lock_guard guard(Lock);
    TStatement select(Db, std::string("SELECT ") + UnitColumns + " FROM units ORDER BY id DESC LIMIT ?1");
    select.Bind(1, static_cast<std::int64_t>(count));
    std::vector<TUnitRecord> records;
    while (select.Step())
        records.push_back(RecordFrom(select));
    return records;
}

TUnitStats TUnitDatabase::Stats(const std::string& since)
{
    std::lock_guard guard(Lock);
    TUnitStats stats;
    TStatement totals(Db, "SELECT count(*), total(result = 'PASS'), "
                          "(julianday(max(ended)) - julianday(min(started))) * 24 FROM units WHERE started >= ?1");
    totals.Bind(1, since).Step();
    stats.Units = totals.Integer(0);
    stats.Passed = static_cast<std::int64_t>(totals.Real(1));
    const double hours = totals.Real(2);
    stats.UnitsPerHour = hours > 0 ? static_cast<double>(stats.Units) / hours : 0.0;
    TStatement failures(Db, "SELECT failed_step, count(*) FROM units WHERE result = 'FAIL' AND started >= ?1 "
                            "GROUP BY failed_step ORDER BY failed_step");
    failures.Bind(1, since);
    while (failures.Step())
        stats.FailuresByStep[failures.Text(0)] = failures.Integer(1);
    return stats;
}

} // namespace lindprog
