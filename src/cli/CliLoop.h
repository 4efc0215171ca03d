#pragma once
// The command line's side of the production loop: the operator's Enter on
// the terminal as the trigger, and the stop signal as the loop's stop.

#include "core/production/UnitLoop.h"

namespace lindprog::cli {

// Each line the operator types starts one unit; the end of the input, or a
// stop signal, ends the wait.
class TEnterWait final : public TBoardWait {
public:
    TWaitEnd ForBoard() override;
};

} // namespace lindprog::cli
