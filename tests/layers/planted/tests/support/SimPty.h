#pragma once
// A test helper, for the fuzz target to include by mistake.
