#pragma once

#include <cstdint>
#include <vector>

namespace lindprog::sim {

// What the adapter logic decided to answer: status and reply data; the echo
// byte and the framing are added by the line side.
struct TReply {
    bool answer = true; // false: the adapter stays silent (e.g. a hung flash read)
    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
};

inline TReply StatusOnly(std::uint8_t status)
{
    return TReply{true, status, {}};
}

} // namespace lindprog::sim
