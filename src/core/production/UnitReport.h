#pragma once
// The unit database's records for people and tools: CSV for a spreadsheet,
// JSON Lines for scripts (one object per unit, the same keys as the CSV
// header), and the counts a shift lead asks for.

#include "core/production/UnitDatabase.h"

#include <string>
#include <vector>

namespace lindprog {

// A header line, then one line per unit; fields with a comma, a quote or a
// line break are quoted, quotes doubled. The steps column holds JSON.
std::string UnitsCsv(const std::vector<TUnitRecord>& units);
// One JSON object per line.
std::string UnitsJsonLines(const std::vector<TUnitRecord>& units);
// "Units: 15\nPassed: 14\nFailed: 1\n  step 2 write: 1\nUnits per hour: 212.4\n"
std::string StatsText(const TUnitStats& stats);
// The same as one JSON object.
std::string StatsJson(const TUnitStats& stats);

using TStationStats = std::vector<std::pair<std::string, TUnitStats>>;
// A table: a row per station, then the line's totals:
// "station  units  passed  yield  units/h  failures by step".
std::string LineStatsText(const TStationStats& stations, const TUnitStats& line);
// {"stations": [{"station": ..., <StatsJson's keys>, "yield": ...}], "line": {...}}
std::string LineStatsJson(const TStationStats& stations, const TUnitStats& line);

} // namespace lindprog
