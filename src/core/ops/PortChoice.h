#pragma once
// Which serial ports a command runs on, as a person names them: COM<N>
// (numbered as the window numbers ports), key:K for the adapter whose key is
// K, or a device path; with none named, the one port there is. A key stays
// with its adapter when USB numbering changes, so a station's adapters keep
// their roles. Every port is resolved to its device path once, before any
// adapter thread starts, so the threads never share the numbering. The
// command line and the Python module take ports the same way.

#include <string>
#include <vector>

namespace lindprog {

class TPortNames;
struct TPortEntry;

struct TPortChoice {
    std::string Name; // as printed: "COM3", or the path given
    std::string Path; // what is opened
    int Number = 0;   // the number the endpoint opens it under
    std::string Key;  // key:K: the adapter's key found on it

    // How failures name it: COM<N> says nothing of which device it stood
    // for on this run, so its path follows.
    std::string Text() const { return Name == Path ? Name : Name + " (" + Path + ")"; }
};

struct TPortSelection {
    std::vector<TPortChoice> Ports;
    std::string Error; // set when nothing can run
    int ExitCode = 0;
};

// COM<N>, key:K or a path; a path that exists wins over a COM<N> of the
// same spelling, so a file named com1 in the current folder is that file.
// With none, the one port that CanBeAdapter (core/link/PortNames.h).
TPortSelection SelectPorts(const std::vector<std::string>& requested, TPortNames& names);

} // namespace lindprog
