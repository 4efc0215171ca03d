#include "cli/JsonLine.h"

#include <cmath>
#include <cstdio>

namespace lindprog::cli {

std::string JsonString(std::string_view text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': quoted += "\\\""; break;
        case '\\': quoted += "\\\\"; break;
        case '\n': quoted += "\\n"; break;
        case '\r': quoted += "\\r"; break;
        case '\t': quoted += "\\t"; break;
        default:
            if (byte < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
                quoted += escaped;
            } else {
                quoted += c;
            }
        }
    }
    return quoted + "\"";
}

void TJsonObject::Key(std::string_view key)
{
    if (!Members.empty())
        Members += ',';
    Members += JsonString(key);
    Members += ':';
}

TJsonObject& TJsonObject::Add(std::string_view key, std::string_view value)
{
    Key(key);
    Members += JsonString(value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, std::int64_t value)
{
    Key(key);
    Members += std::to_string(value);
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, double value)
{
    Key(key);
    // JSON has no NaN or infinity.
    if (!std::isfinite(value)) {
        Members += "null";
        return *this;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    Members += text;
    return *this;
}

TJsonObject& TJsonObject::Add(std::string_view key, bool value)
{
    Key(key);
    Members += value ? "true" : "false";
    return *this;
}

TJsonObject& TJsonObject::AddRaw(std::string_view key, std::string_view value)
{
    Key(key);
    Members += value;
    return *this;
}

std::string JsonArray(const std::vector<std::string>& items)
{
    std::string text = "[";
    for (std::size_t k = 0; k < items.size(); ++k)
        text += (k == 0 ? "" : ",") + items[k];
    return text + "]";
}

} // namespace lindprog::cli
