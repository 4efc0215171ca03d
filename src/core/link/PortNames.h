#pragma once
// Everything above the serial port names a port by its number N (COM1, COM12,
// ...). This unit is the one place where such a number becomes a device path.
//
// LINDPROG_COM<N> in the environment wins, so tests, the simulator and the demo
// can point any number at a pseudo-terminal (or, on Windows, at another port).
//
// Linux (PortNamesPosix.cpp) has no port numbers of its own: each serial
// device the system lists gets a number the first time it is seen and keeps
// it. The assignments are kept in a small file beside the settings, keyed by
// the device's stable /dev/serial/by-id name where it has one, so the same
// adapter is the same COMn after a replug or a restart.
//
// Windows (PortNamesWin32.cpp) numbers its ports itself: the setup API's
// "Ports" class lists each with its friendly name and its "PortName" (COM<N>),
// and COM<N> opens as "\\.\COM<N>". No assignments file is read or written
// there.
//
// Listing never opens a device: opening a serial port raises DTR and RTS on
// most drivers, which resets boards that wire those lines to their reset. What
// is a port comes from the kernel's device tree in sysfs, or from the setup
// API, instead.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lindprog {

struct TPortEntry {
    int Number = 0;
    std::string Key;        // stable name: by-id link or device path; Windows: the friendly name
    std::string DevicePath; // what is opened
    bool Mapped = false;    // named by LINDPROG_COM<N> rather than found
};

class TPortNames {
public:
    // devRoot and sysRoot are "/dev" and "/sys/class/tty" in production; tests
    // pass folders of their own. Windows uses none of the three.
    explicit TPortNames(std::filesystem::path assignmentsFile, std::filesystem::path devRoot = "/dev",
                        std::filesystem::path sysRoot = "/sys/class/tty");

    static std::optional<std::string> EnvironmentPath(int number);

    // From now on COM<number> opens devicePath, whatever the environment or
    // the system lists: the command line opens a port given by its path so.
    void Pin(int number, std::string devicePath) { Pinned[number] = std::move(devicePath); }

    // The device path for COM<number>, or nothing when no such port is known.
    // On Windows every positive number names a port; the open tells whether
    // it is there.
    std::optional<std::string> DevicePath(int number);

    // The serial devices present now, each with its number. On Linux a new
    // device gets a new number, written to the assignments file at once.
    std::vector<TPortEntry> SystemPorts();

    // Every LINDPROG_COM<N> of the environment with a positive N and a
    // non-empty path, by number.
    static std::vector<TPortEntry> EnvironmentPorts();

    // What the user may choose from: the mapped ports, then the system's ports
    // whose number no mapping takes over, by number. A mapped number always
    // opens its mapping, so a system port under the same number is left out.
    std::vector<TPortEntry> AvailablePorts();

    // $XDG_CONFIG_HOME (or ~/.config) / "Fenwick Arl" / "Lindprog-ports.conf".
    static std::filesystem::path DefaultAssignmentsFile();

private:
    // The system's part of DevicePath: a number the environment and the
    // pinned paths leave to the system's own ports.
    std::optional<std::string> SystemDevicePath(int number);
    // Every NAME=VALUE of the process's environment, as the C library keeps it.
    static std::vector<std::string> EnvironmentVariables();

    // The numbering of found devices, which only Linux needs.
    struct TFoundPort {
        std::string Key;
        std::string DevicePath;
    };
    std::vector<TFoundPort> ScanDevices() const;
    void LoadAssignments();
    void SaveAssignments() const;
    int AssignNumber(const std::string& key);

    std::filesystem::path AssignmentsFile;
    std::filesystem::path DevRoot;
    std::filesystem::path SysRoot;
    std::map<int, std::string> NumberToKey;
    std::map<int, std::string> Pinned;
};

// Whether a port can be an adapter's, for choosing the one port there is
// when none is named: a USB serial port (ttyUSB, ttyACM, or one with a
// /dev/serial/by-id name) or a LINDPROG_COM<N> mapping. A board's built-in
// UART (ttyS0) never holds one, and counting it would make every machine
// look as if it had two ports. Windows names every port COM<N> alike and
// does not say here which is USB: each may be.
bool CanBeAdapter(const TPortEntry& port);

} // namespace lindprog
