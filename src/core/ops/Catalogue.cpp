#include "core/ops/Catalogue.h"

namespace lindprog {

std::vector<TVoltageEntry> VoltageEntries(std::uint32_t mask)
{
    static const char* const texts[] = {"3.3 V", "5.0 V", "3+5 V"};
    std::vector<TVoltageEntry> entries;
    for (std::uint8_t bit = 0; bit < 3; ++bit)
        if (mask & (1u << bit))
            entries.push_back({texts[bit], static_cast<std::uint8_t>(bit + 1)});
    return entries;
}

} // namespace lindprog
