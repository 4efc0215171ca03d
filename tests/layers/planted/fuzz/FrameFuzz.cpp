// A fuzz target that reaches for a test helper: only the core and the
// simulator are its to use.
#include "support/SimPty.h"
