#pragma once
// An ops header, for the link layer below to include by mistake; it reaches
// for a test helper itself.
#include "support/SimPty.h"
