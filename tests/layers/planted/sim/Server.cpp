// A simulator unit that borrows the core's framing and names a neighbour that
// is not there: both must be found.
#include "Pty.h"
#include "core/link/Frame.h"
