#include "core/production/UnitReport.h"

#include "core/base/TextFormat.h"

#include <nlohmann/json.hpp>

namespace lindprog {

namespace {

nlohmann::ordered_json UnitJson(const TUnitRecord& unit)
{
    nlohmann::ordered_json steps = nlohmann::ordered_json::array();
    for (const TUnitStep& step : unit.Steps)
        steps.push_back({{"step", step.Title}, {"result", step.Result}, {"line", step.Line}});
    return {
        {"id", unit.Id},
        {"started", unit.Started},
        {"ended", unit.Ended},
        {"station", unit.Station},
        {"port", unit.Port},
        {"adapter", unit.Adapter},
        {"firmware", unit.Firmware},
        {"adapter_key", unit.AdapterKey},
        {"device", unit.Device},
        {"job", unit.Job},
        {"job_hash", unit.JobHash},
        {"serial", unit.Serial ? nlohmann::ordered_json(*unit.Serial) : nlohmann::ordered_json()},
        {"image_crc", unit.ImageCrc ? nlohmann::ordered_json(ImageCrcText(*unit.ImageCrc)) : nlohmann::ordered_json()},
        {"result", unit.Passed ? "PASS" : "FAIL"},
        {"exit_code", unit.ExitCode},
        {"failed_step", unit.FailedStep},
        {"message", unit.Message},
        {"seconds", unit.Seconds},
        {"steps", steps},
    };
}

std::string CsvField(const nlohmann::ordered_json& value)
{
    const std::string text = value.is_string() ? value.get<std::string>() : value.is_null() ? "" : value.dump();
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

double Yield(const TUnitStats& stats)
{
    return stats.Units > 0 ? 100.0 * static_cast<double>(stats.Passed) / static_cast<double>(stats.Units) : 0.0;
}

nlohmann::ordered_json StatsObject(const TUnitStats& stats)
{
    nlohmann::ordered_json failures = nlohmann::ordered_json::object();
    for (const auto& [step, count] : stats.FailuresByStep)
        failures[step] = count;
    return {{"units", stats.Units},  {"passed", stats.Passed},       {"failed", stats.Units - stats.Passed},
            {"yield", Yield(stats)}, {"failures_by_step", failures}, {"units_per_hour", stats.UnitsPerHour}};
}

std::string StatsRow(const std::string& name, const TUnitStats& stats)
{
    std::string failures;
    for (const auto& [step, count] : stats.FailuresByStep)
        failures += Format("%s%s: %lld", failures.empty() ? "" : ", ", (step.empty() ? "no step" : step).c_str(),
                           static_cast<long long>(count));
    return Format("%-16s %7lld %7lld %6.1f%% %9.1f  %s", name.c_str(), static_cast<long long>(stats.Units),
                  static_cast<long long>(stats.Passed), Yield(stats), stats.UnitsPerHour, failures.c_str());
}

} // namespace

std::string LineStatsText(const TStationStats& stations, const TUnitStats& line)
{
    std::string text =
        Format("%-16s %7s %7s %7s %9s  %s\n", "station", "units", "passed", "yield", "units/h", "failures by step");
    for (const auto& [station, stats] : stations)
        text += StatsRow(station.empty() ? "(unnamed)" : station, stats) + "\n";
    return text + StatsRow("line", line) + "\n";
}

std::string LineStatsJson(const TStationStats& stations, const TUnitStats& line)
{
    nlohmann::ordered_json rows = nlohmann::ordered_json::array();
    for (const auto& [station, stats] : stations) {
        nlohmann::ordered_json row = {{"station", station}};
        row.update(StatsObject(stats));
        rows.push_back(row);
    }
    return nlohmann::ordered_json{{"stations", rows}, {"line", StatsObject(line)}}.dump();
}

std::string UnitsCsv(const std::vector<TUnitRecord>& units)
{
    std::string text;
    const nlohmann::ordered_json header = UnitJson(TUnitRecord{});
    for (const auto& [key, value] : header.items())
        text += (text.empty() ? "" : ",") + key;
    text += "\n";
    for (const TUnitRecord& unit : units) {
        bool first = true;
        const nlohmann::ordered_json fields = UnitJson(unit);
        for (const auto& [key, value] : fields.items()) {
            text += (first ? "" : ",") + CsvField(value);
            first = false;
        }
        text += "\n";
    }
    return text;
}

std::string UnitsJsonLines(const std::vector<TUnitRecord>& units)
{
    std::string text;
    for (const TUnitRecord& unit : units)
        text += UnitJson(unit).dump() + "\n";
    return text;
}

std::string StatsText(const TUnitStats& stats)
{
    std::string text = Format("Units: %lld\nPassed: %lld\nFailed: %lld\n", static_cast<long long>(stats.Units),
                              static_cast<long long>(stats.Passed), static_cast<long long>(stats.Units - stats.Passed));
    for (const auto& [step, count] : stats.FailuresByStep)
        text += Format("  %s: %lld\n", (step.empty() ? "no step" : step).c_str(), static_cast<long long>(count));
    return text + Format("Yield: %.1f%%\nUnits per hour: %.1f\n", Yield(stats), stats.UnitsPerHour);
}

std::string StatsJson(const TUnitStats& stats)
{
    return StatsObject(stats).dump();
}

} // namespace lindprog
