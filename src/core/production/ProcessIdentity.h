#pragma once
// Who holds a reserved serial number: a process, told apart from a later one
// that got the same process id. A reservation outlives its owner when the
// owner crashes, is killed or the machine loses power; the next process that
// opens the unit database finds the owner gone and returns the number.
//
// One implementation per system: ProcessIdentityPosix.cpp reads Linux's
// /proc (the process's start time since boot, and the boot's own id).

#include <cstdint>
#include <string>

namespace lindprog {

struct TProcessIdentity {
    std::int64_t Pid = 0;
    std::string Start; // when the process started, in the system's own units
    std::string Boot;  // which boot of the machine it ran in

    // This process.
    static TProcessIdentity Current();
    // Whether that process still runs: same boot, same id, same start time,
    // and not a zombie waiting to be reaped (it runs no code any more).
    bool Alive() const;
};

} // namespace lindprog
