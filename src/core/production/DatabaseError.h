#pragma once
// The one error every unit database throws. Lost tells a server that could
// not be reached, or went away, from a refusal: the same call may work once
// the server is back, so a station waits for it between units instead of
// ending its loop.

#include <stdexcept>
#include <string>

namespace lindprog {

class TDatabaseError : public std::runtime_error {
public:
    explicit TDatabaseError(const std::string& what, bool lost = false) : std::runtime_error(what), IsLost(lost) {}
    bool Lost() const { return IsLost; }

private:
    bool IsLost;
};

} // namespace lindprog
