#pragma once
// A Win32 error code as text for the user. The errors a file or a port
// commonly meets read as the POSIX build words them ("No such file or
// directory", "Permission denied"), so messages and scripts see the same
// text on both systems; any other is the system's own message.

#include <string>

namespace lindprog {

std::string Win32ErrorText(unsigned long error);

} // namespace lindprog
