#include "core/production/PgUnitDatabase.h"

#include "core/production/UnitRow.h"

#include <limits>
#include <set>

namespace lindprog {

namespace {

// The first key of every reservation's advisory lock ("LPSG"); the second
// is the reservation's token. Other programs on the same database keep to
// their own keys.
constexpr const char* LeaseClass = "1280332615";

constexpr const char* Schema = R"(
CREATE TABLE IF NOT EXISTS schema_version(version integer NOT NULL);
CREATE TABLE IF NOT EXISTS units(
  id bigserial PRIMARY KEY, started text NOT NULL, ended text NOT NULL, station text, port text, adapter text,
  firmware text, adapter_key text, device text, job text, job_hash text, steps text, serial bigint,
  image_crc text CONSTRAINT units_image_crc_hex CHECK (image_crc ~ '^[0-9A-F]{8}$'), result text NOT NULL,
  exit_code integer, failed_step text, message text, seconds double precision);
CREATE INDEX IF NOT EXISTS units_started ON units(started);
CREATE TABLE IF NOT EXISTS serials(
  series text NOT NULL, number bigint NOT NULL, state text NOT NULL, lease integer, PRIMARY KEY(series, number));
CREATE SEQUENCE IF NOT EXISTS serial_leases AS integer CYCLE;
)";

// Version 1 kept image_crc as a bigint. The check refuses the decimal that
// a station of that version, connected before the change, would still send
// for all but a few CRCs; it refuses the schema when it connects again.
constexpr const char* ImageCrcAsHex =
    "ALTER TABLE units ALTER COLUMN image_crc TYPE text USING lpad(upper(to_hex(image_crc)), 8, '0'), "
    "ADD CONSTRAINT units_image_crc_hex CHECK (image_crc ~ '^[0-9A-F]{8}$')";

// A reservation is alive while its holder's session holds its lock.
const std::string LeaseHeld = std::string("EXISTS (SELECT 1 FROM pg_locks l WHERE l.locktype = 'advisory' AND "
                                          "l.granted AND l.objsubid = 2 AND l.classid = ") +
                              LeaseClass +
                              " AND l.objid = s.lease::oid AND l.database = (SELECT oid FROM pg_database "
                              "WHERE datname = current_database()))";

// A serial number as PostgreSQL's bigint holds it.
constexpr std::uint64_t MaxStored = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// The fields go as text; the numbers are cast to their columns' types.
std::string UnitValues()
{
    std::string values;
    for (int k = 1; k <= UnitColumnCount; ++k) {
        values += (k > 1 ? ", $" : "$") + std::to_string(k);
        if (k == 12)
            values += "::bigint";
        else if (k == 15)
            values += "::integer";
        else if (k == 18)
            values += "::double precision";
    }
    return values;
}

const std::string InsertUnit =
    std::string("INSERT INTO units(") + UnitColumns + ") VALUES(" + UnitValues() + ") RETURNING id";
// An imported unit is the same unit when it started at the same moment on
// the same station, port and adapter with the same serial number.
const std::string ImportUnit = std::string("INSERT INTO units(") + UnitColumns + ") SELECT " + UnitValues() +
                               " WHERE NOT EXISTS (SELECT 1 FROM units WHERE started = $1 AND station = $3 AND "
                               "port = $4 AND adapter_key = $7 AND serial IS NOT DISTINCT FROM $12::bigint) "
                               "RETURNING id";

} // namespace

TPgUnitDatabase::TPgUnitDatabase(const std::string& uri) : Connection(uri)
{
    std::lock_guard guard(Lock);
    CreateSchema();
}

void TPgUnitDatabase::CreateSchema()
{
    TPgTransaction transaction(Connection);
    // Stations starting at once would race to create the same tables.
    Connection.Execute("SELECT pg_advisory_xact_lock(" + std::string(LeaseClass) + ", 0)");
    Connection.Execute(Schema);
    const TPgResult version = Connection.Execute("SELECT max(version) FROM schema_version");
    const auto found = version.Field(0, 0);
    if (!found) {
        Connection.Execute("INSERT INTO schema_version(version) VALUES($1)", {std::to_string(SchemaVersion)});
    } else if (std::stoi(*found) > SchemaVersion) {
        throw TDatabaseError(Connection.Where() + ": the unit database has schema version " + *found +
                             "; this program knows version " + std::to_string(SchemaVersion) +
                             " and older: use a newer lindprog on this line");
    } else if (std::stoi(*found) < SchemaVersion) {
        Connection.Execute(ImageCrcAsHex);
        Connection.Execute("UPDATE schema_version SET version = $1", {std::to_string(SchemaVersion)});
    }
    transaction.Commit();
}

bool TPgUnitDatabase::Reconnect()
{
    std::lock_guard guard(Lock);
    if (!Connection.Reconnect())
        return false;
    try {
        CreateSchema(); // a server restored from an empty backup has none
    } catch (const TDatabaseError&) {
        return false;
    }
    return true;
}

TSerialLease TPgUnitDatabase::ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                                            std::uint64_t largest)
{
    std::lock_guard guard(Lock);
    TPgTransaction transaction(Connection);
    // One reservation of a series at a time, on every station of the line.
    Connection.Execute("SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {series});
    Connection.Execute("UPDATE serials s SET state = 'free', lease = NULL WHERE s.series = $1 AND "
                       "s.state = 'reserved' AND NOT " +
                           LeaseHeld,
                       {series});
    const TPgResult returned =
        Connection.Execute("SELECT min(number) FROM serials WHERE series = $1 AND state = 'free'", {series});
    std::optional<std::string> number = returned.Field(0, 0);
    if (!number) {
        const TPgResult highest = Connection.Execute("SELECT max(number) FROM serials WHERE series = $1", {series});
        const auto last = highest.Field(0, 0);
        const std::uint64_t lastNumber = last ? std::stoull(*last) : 0;
        const std::uint64_t next = last ? lastNumber + step : start;
        if ((last && next < lastNumber) || next > largest || next > MaxStored)
            throw TDatabaseError("the serial numbers of '" + series + "' are used up (the last was " +
                                 std::to_string(lastNumber) + ")");
        number = std::to_string(next);
    }
    const std::string token = *Connection.Execute("SELECT nextval('serial_leases')").Field(0, 0);
    Connection.Execute("INSERT INTO serials(series, number, state, lease) VALUES($1, $2, 'reserved', $3) "
                       "ON CONFLICT(series, number) DO UPDATE SET state = 'reserved', lease = $3",
                       {series, number, token});
    // Held by this session past the commit, until the unit is recorded.
    Connection.Execute(std::string("SELECT pg_advisory_lock(") + LeaseClass + ", $1)", {token});
    transaction.Commit();
    return {series, std::stoull(*number), std::stoll(token)};
}

void TPgUnitDatabase::Release(const TSerialLease& lease)
{
    try {
        Connection.Execute(std::string("SELECT pg_advisory_unlock(") + LeaseClass + ", $1)",
                           {std::to_string(lease.Token)});
    } catch (const TDatabaseError&) {
        // What was settled is committed; a session that is gone holds nothing.
    }
}

void TPgUnitDatabase::ReturnSerial(const TSerialLease& lease)
{
    std::lock_guard guard(Lock);
    Connection.Execute("UPDATE serials SET state = 'free', lease = NULL WHERE series = $1 AND number = $2 AND "
                       "lease = $3 AND state = 'reserved'",
                       {lease.Series, std::to_string(lease.Number), std::to_string(lease.Token)});
    Release(lease);
}

std::int64_t TPgUnitDatabase::RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease)
{
    std::lock_guard guard(Lock);
    TPgTransaction transaction(Connection);
    const TPgResult inserted = Connection.Execute(InsertUnit, UnitRowOf(record));
    if (lease) {
        const TPgResult settled = Connection.Execute(
            "UPDATE serials SET state = $4, lease = NULL WHERE series = $1 AND number = $2 AND lease = $3 AND "
            "state = 'reserved'",
            {lease->Series, std::to_string(lease->Number), std::to_string(lease->Token),
             std::string(record.Passed ? "used" : "free")});
        // Only a hand edit of the table takes a reservation from a live
        // session; a unit whose number is no longer its own is not recorded.
        if (settled.Changed() != 1)
            throw TDatabaseError(Connection.Where() + ": serial number " + std::to_string(lease->Number) +
                                 " is no longer reserved for this station");
    }
    transaction.Commit();
    if (lease)
        Release(*lease);
    return inserted.Integer(0, 0);
}

std::vector<TUnitRecord> TPgUnitDatabase::Select(const std::string& tail, const TPgParams& params)
{
    std::lock_guard guard(Lock);
    const TPgResult rows = Connection.Execute(std::string("SELECT id, ") + UnitColumns + " FROM units " + tail, params);
    std::vector<TUnitRecord> records;
    for (int row = 0; row < rows.Rows(); ++row)
        records.push_back(UnitFromRow(rows.Integer(row, 0), [&](int column) { return rows.Field(row, column + 1); }));
    return records;
}

std::vector<TUnitRecord> TPgUnitDatabase::Units(const std::string& since)
{
    return Select("WHERE started >= $1 ORDER BY id", {since});
}

std::vector<TUnitRecord> TPgUnitDatabase::LastUnits(int count)
{
    return Select("ORDER BY id DESC LIMIT $1", {std::to_string(count)});
}

std::int64_t TPgUnitDatabase::ImportUnits(const std::vector<TUnitRecord>& units)
{
    std::lock_guard guard(Lock);
    TPgTransaction transaction(Connection);
    // Two imports at once would both find a unit missing.
    Connection.Execute("LOCK TABLE units IN SHARE ROW EXCLUSIVE MODE");
    std::set<std::string> series;
    for (const TUnitRecord& unit : units)
        if (unit.Serial)
            series.insert(unit.Job);
    for (const std::string& name : series)
        Connection.Execute("SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", {name});
    std::int64_t added = 0;
    for (const TUnitRecord& unit : units) {
        const TPgResult row = Connection.Execute(ImportUnit, UnitRowOf(unit));
        added += row.Rows();
        if (row.Rows() == 0 || !unit.Serial)
            continue;
        // The pool goes on past every number on a board; a failed unit's
        // number is free again unless another unit passed with it.
        Connection.Execute(unit.Passed ? "INSERT INTO serials(series, number, state) VALUES($1, $2, 'used') "
                                         "ON CONFLICT(series, number) DO UPDATE SET state = 'used', lease = NULL"
                                       : "INSERT INTO serials(series, number, state) VALUES($1, $2, 'free') "
                                         "ON CONFLICT(series, number) DO NOTHING",
                           {unit.Job, std::to_string(*unit.Serial)});
    }
    transaction.Commit();
    return added;
}

} // namespace lindprog
