#include "core/production/SqliteUnitDatabase.h"

#include "core/production/UnitRow.h"

#include <chrono>
#include <limits>
#include <thread>

namespace lindprog {

namespace {

// The units table under a name. image_crc is TEXT, the hex that export
// shows: with INTEGER's affinity a CRC such as 00001234 would be kept as the
// number 1234. The check keeps out any other text, such as the decimal an
// earlier version of the program writes for all but a few CRCs.
std::string UnitsTable(const std::string& name)
{
    return "CREATE TABLE IF NOT EXISTS " + name +
           R"((
  id INTEGER PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL, station TEXT, port TEXT, adapter TEXT,
  firmware TEXT, adapter_key TEXT, device TEXT, job TEXT, job_hash TEXT, steps TEXT, serial INTEGER,
  image_crc TEXT CHECK (image_crc IS NULL OR (length(image_crc) = 8 AND image_crc NOT GLOB '*[^0-9A-F]*')),
  result TEXT NOT NULL, exit_code INTEGER, failed_step TEXT, message TEXT, seconds REAL);
)";
}

constexpr const char* OtherTables = R"(
CREATE INDEX IF NOT EXISTS units_started ON units(started);
CREATE TABLE IF NOT EXISTS serials(
  series TEXT NOT NULL, number INTEGER NOT NULL, state TEXT NOT NULL,
  owner_pid INTEGER, owner_start TEXT, owner_boot TEXT, PRIMARY KEY(series, number));
)";

// Files of earlier versions (user_version 0) keep image_crc in an INTEGER
// column. SQLite changes no column's type in place, so the table is made
// anew with every CRC as its hex text; ids stay, so nothing that names a
// unit by its id changes.
void MigrateImageCrc(TSqlite& db)
{
    const std::string columns = UnitColumns;
    const std::string crc = "image_crc";
    std::string converted = columns;
    converted.replace(converted.find(crc), crc.size(),
                      "CASE typeof(image_crc) WHEN 'integer' THEN printf('%08X', image_crc) ELSE image_crc END");
    db.Execute(UnitsTable("units_hex") + "INSERT INTO units_hex(id, " + columns + ") SELECT id, " + converted +
               " FROM units; DROP TABLE units; ALTER TABLE units_hex RENAME TO units;");
}

bool HasUnitsTable(TSqlite& db)
{
    TStatement table(db, "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'units'");
    table.Step();
    return table.Integer(0) > 0;
}

std::int64_t UserVersion(TSqlite& db)
{
    TStatement version(db, "PRAGMA user_version");
    version.Step();
    return version.Integer(0);
}

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
    // Immediate: of several stations opening an old file at once, one
    // migrates it and the others find it done.
    TTransaction transaction(Db);
    const std::int64_t version = UserVersion(Db);
    if (version > SchemaVersion)
        throw TDatabaseError("the unit database has schema version " + std::to_string(version) +
                             "; this program knows version " + std::to_string(SchemaVersion) +
                             " and older: use a newer lindprog");
    if (version < SchemaVersion && HasUnitsTable(Db))
        MigrateImageCrc(Db);
    Db.Execute(UnitsTable("units") + OtherTables + "PRAGMA user_version = " + std::to_string(SchemaVersion) + ";");
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
