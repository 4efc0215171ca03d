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
        {"image_crc",
         unit.ImageCrc ? nlohmann::ordered_json(Format("%.08X", *unit.ImageCrc)) : nlohmann::ordered_json()},
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

} // namespace

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
    return text + Format("Units per hour: %.1f\n", stats.UnitsPerHour);
}

std::string StatsJson(const TUnitStats& stats)
{
    nlohmann::ordered_json failures = nlohmann::ordered_json::object();
    for (const auto& [step, count] : stats.FailuresByStep)
        failures[step] = count;
    return nlohmann::ordered_json{{"units", stats.Units},
                                  {"passed", stats.Passed},
                                  {"failed", stats.Units - stats.Passed},
                                  {"failures_by_step", failures},
                                  {"units_per_hour", stats.UnitsPerHour}}
        .dump();
}

} // namespace lindprog
