#pragma once
// The paced line's ceiling for a Read: a 13-byte request and a 520-byte reply
// per 512-byte block, nothing between them. Every front end's read speed is
// measured against it.

#include "core/link/Com.h"

namespace lindprog::bench {

inline double ReadCeilingKBps()
{
    const double lineMs = (5.0 + 7 + 1 + 5 + 2 + 512 + 1) * TCom::BitsPerByte * 1000.0 / TCom::BaudRate;
    return 512.0 / lineMs * 1000.0 / 1024.0;
}

} // namespace lindprog::bench
