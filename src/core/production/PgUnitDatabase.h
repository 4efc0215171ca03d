#pragma once
// The unit database on a PostgreSQL server that every station of a line
// shares, over the network, from any number of hosts.
//
// A reservation belongs to the station's database session, never to a
// process the local host could look at: reserving takes a session-level
// advisory lock named by the reservation's own token, and the server drops
// that lock when the session ends (the station crashed, was killed, or lost
// its network). Reserving checks the server's lock table under a lock on
// the series, so a number whose holder's session is gone is the first one
// given out again, and no two sessions ever take the same free number.
// A station must therefore reach the server directly, not through a pooler
// that hands one session to several clients.

#include "core/production/Postgres.h"
#include "core/production/UnitDatabase.h"

#include <mutex>

namespace lindprog {

class TPgUnitDatabase final : public TUnitDatabase {
public:
    // The schema this program writes; a database with a newer one is refused.
    // Version 2 keeps image_crc as the hex text export shows (1, a bigint,
    // is migrated when a station connects).
    static constexpr int SchemaVersion = 2;

    // Connects, and creates the tables where they are missing.
    explicit TPgUnitDatabase(const std::string& uri);

    TSerialLease ReserveSerial(const std::string& series, std::uint64_t start, std::uint64_t step,
                               std::uint64_t largest) override;
    void ReturnSerial(const TSerialLease& lease) override;
    std::int64_t RecordUnit(const TUnitRecord& record, const std::optional<TSerialLease>& lease) override;
    std::vector<TUnitRecord> Units(const std::string& since = "") override;
    std::vector<TUnitRecord> LastUnits(int count) override;
    bool Reconnect() override;
    std::string Where() const override { return Connection.Where(); }

    // Adds the units that are not here yet (the same start, station, port,
    // adapter and serial number); importing the same history twice adds
    // nothing. Returns how many were added.
    std::int64_t ImportUnits(const std::vector<TUnitRecord>& units);

private:
    void CreateSchema();
    std::vector<TUnitRecord> Select(const std::string& tail, const TPgParams& params);
    // Lets go of the session's hold on a settled reservation.
    void Release(const TSerialLease& lease);

    std::mutex Lock;
    TPgConnection Connection;
};

} // namespace lindprog
