#pragma once
// A unit's row as both unit databases store it: the same columns, in this
// order, each field as text (a number in decimal, the image CRC as the hex
// text export shows) or null. SQLite's column types turn the numbers back
// into numbers; PostgreSQL casts them.

#include "core/production/UnitDatabase.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

// Every column but the id, which the database gives.
inline constexpr const char* UnitColumns = "started, ended, station, port, adapter, firmware, adapter_key, device, "
                                           "job, job_hash, steps, serial, image_crc, result, exit_code, "
                                           "failed_step, message, seconds";
inline constexpr int UnitColumnCount = 18;

using TRowFields = std::vector<std::optional<std::string>>;

TRowFields UnitRowOf(const TUnitRecord& record);
// field(k) is column k of UnitColumns; null as nullopt.
TUnitRecord UnitFromRow(std::int64_t id, const std::function<std::optional<std::string>(int)>& field);

} // namespace lindprog
