#include "core/ops/Catalogue.h"

namespace lindprog {

std::vector<TVoltageEntry> VoltageEntries(std::uint32_t mask)
{
    static const char* const values[] = {"3.3", "5.0", "3+5"};
    std::vector<TVoltageEntry> entries;
    for (std::uint8_t bit = 0; bit < 3; ++bit)
        if (mask & (1u << bit))
            entries.push_back({std::string(values[bit]) + " V", static_cast<std::uint8_t>(bit + 1), values[bit]});
    return entries;
}

} // namespace lindprog
