#pragma once

#include <cstdint>
#include <vector>

namespace lindprog::sim {

// What the adapter logic decided to answer: status and reply data; the echo
// byte and the framing are added by the line side.
struct TReply {
    bool Answer = true; // false: the adapter stays silent (e.g. a hung flash read)
    std::uint8_t Status = 0;
    std::vector<std::uint8_t> Data;
};

inline TReply StatusOnly(std::uint8_t status)
{
    return TReply{true, status, {}};
}

} // namespace lindprog::sim
