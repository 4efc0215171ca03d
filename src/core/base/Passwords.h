#pragma once
// A URI may carry a password ("postgresql://line:s3cret@db/units", or
// "?password=s3cret"). Whatever the program shows a person or writes to a
// log or a record names such a place without it.

#include <string>
#include <string_view>

namespace lindprog {

// The text with every URI's password left out: "user:password@" becomes
// "user@", and a "password=..." parameter goes. A URI runs from its scheme's
// "://" (or ":/", as a URI given for a file name reads once made a path) to
// the next white space or quote; text without one is returned as it is.
std::string WithoutPasswords(std::string_view text);

} // namespace lindprog
