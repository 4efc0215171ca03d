#include "core/production/SqliteUnitDatabase.h"

#include "core/production/UnitRow.h"

#include <chrono>
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

// SQLite's integers are signed 64 bits; serial numbers stay below that.
constexpr std::uint64_t MaxStored = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

TUnitRecord RecordFrom(const TStatement& row)
{
    return UnitFromRow(row.Integer(0), [&row](int column) -> std::optional<std::string> {
        if (row.IsNull(column + 1))
            return std::nullopt;
        return row.Text(column + 1);
    });
}

// Numbers go in as text: the columns' types store them as numbers.
void BindRecord(TStatement& insert, const TUnitRecord& record)
{
    int column = 1;
    for (const auto& field : UnitRowOf(record)) {
        if (field)
            insert.Bind(column++, *field);
        else
            insert.BindNull(column++);
    }
}

} // namespace

TSqliteUnitDatabase::TSqliteUnitDatabase(const std::string& path) : Db(path, BusyMs), Owner(TProcessIdentity::Current())
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

void TSqliteUnitDatabase::CreateTables()
{
    TTransaction transaction(Db);
    Db.Execute(Schema);
    transaction.Commit();
}

void TSqliteUnitDatabase::ReclaimOrphans(const std::string& series)
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

TSerialLease TSqliteUnitDatabase::ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
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

void TSqliteUnitDatabase::ReturnSerial(const TSerialLease& lease)
{
    std::lock_guard guard(Lock);
    TStatement release(Db, "UPDATE serials SET state = 'free', owner_pid = NULL, owner_start = NULL, "
                           "owner_boot = NULL WHERE series = ?1 AND number = ?2 AND state = 'reserved'");
    release.Bind(1, lease.Series).Bind(2, static_cast<std::int64_t>(lease.Number)).Step();
}

std::int64_t TSqliteUnitDatabase::RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease)
{
    std::lock_guard guard(Lock);
    TTransaction transaction(Db);
    TStatement insert(Db, std::string("INSERT INTO units(") + UnitColumns +
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

std::vector<TUnitRecord> TSqliteUnitDatabase::Units(const std::string& since)
{
    std::lock_guard guard(Lock);
    TStatement select(Db, std::string("SELECT id, ") + UnitColumns + " FROM units WHERE started >= ?1 ORDER BY id");
    select.Bind(1, since);
    std::vector<TUnitRecord> records;
    while (select.Step())
        records.push_back(RecordFrom(select));
    return records;
}

std::vector<TUnitRecord> TSqliteUnitDatabase::LastUnits(int count)
{
    std::lock_guard guard(Lock);
    TStatement select(Db, std::string("SELECT id, ") + UnitColumns + " FROM units ORDER BY id DESC LIMIT ?1");
    select.Bind(1, static_cast<std::int64_t>(count));
    std::vector<TUnitRecord> records;
    while (select.Step())
        records.push_back(RecordFrom(select));
    return records;
}

} // namespace lindprog
