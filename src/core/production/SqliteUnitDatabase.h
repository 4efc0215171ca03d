#pragma once
// The unit database in one SQLite file that several processes of one host
// may share.
//
// A serial number is reserved inside a transaction (BEGIN IMMEDIATE, so two
// processes never take the same free number). A reservation records its
// owner (process id, start time, boot); one whose owner is gone (crash,
// kill, power loss) is returned the next time the database is opened or a
// number is reserved. WAL mode: a crash loses at most the unit under way.
// The owner test looks at this host's processes, which is why a file is for
// one station's host only; a line shares a server's database instead.

#include "core/production/ProcessIdentity.h"
#include "core/production/Sqlite.h"
#include "core/production/UnitDatabase.h"

#include <mutex>

namespace lindprog {

class TSqliteUnitDatabase final : public TUnitDatabase {
public:
    // How long a call waits for another process's transaction.
    static constexpr int BusyMs = 10000;
    // The schema this program writes, as the file's user_version: 1 keeps
    // image_crc as hex text (0, the earlier files, as an integer, which
    // opening migrates). A file with a newer one is refused.
    static constexpr int SchemaVersion = 1;

    // Opens or creates the file, and returns numbers whose owners are gone.
    explicit TSqliteUnitDatabase(const std::string& path);

    TSerialLease ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                               std::uint64_t largest) override;
    void ReturnSerial(const TSerialLease& lease) override;
    std::int64_t RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease) override;
    std::vector<TUnitRecord> Units(const std::string& since = "") override;
    std::vector<TUnitRecord> LastUnits(int count) override;
    std::string Where() const override { return Db.Path(); }

private:
    void CreateTables();
    void ReclaimOrphans(const std::string& series);

    std::mutex Lock;
    TSqlite Db;
    TProcessIdentity Owner;
};

} // namespace lindprog
