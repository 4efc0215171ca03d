// The system's ports on Windows: the devices of the setup API's "Ports" class,
// each under the COM number Windows gave it.

#include "core/link/PortNames.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>

// The order matters: devguid.h needs windows.h, and initguid.h before it
// makes this file hold GUID_DEVCLASS_PORTS rather than only declare it.
// clang-format off
#include <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>
// clang-format on

namespace fs = std::filesystem;

namespace lindprog {

namespace {

// "COM17" -> 17; 0 for any other name (printer ports, "COM0", "COMx").
int ComNumber(const std::string& portName)
{
    constexpr std::size_t MaxDigits = 64;
    if (portName.rfind("COM", 0) != 0)
        return 0;
    const std::string digits = portName.substr(3, MaxDigits);
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || end != digits.data() + digits.size())
        return 0;
    return number;
}

std::string ComDevicePath(int number)
{
    // The device namespace serves every number; plain "COM10" would not.
    return "\\\\.\\COM" + std::to_string(number);
}

// The device list of one class; released with the object.
class TDeviceList {
public:
    explicit TDeviceList(const GUID& deviceClass)
        : Handle(::SetupDiGetClassDevsA(&deviceClass, nullptr, nullptr, DIGCF_PRESENT))
    {
    }
    ~TDeviceList()
    {
        if (Valid())
            ::SetupDiDestroyDeviceInfoList(Handle);
    }
    TDeviceList(const TDeviceList&) = delete;
    TDeviceList& operator=(const TDeviceList&) = delete;

    bool Valid() const { return Handle != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return Handle; }

private:
    HDEVINFO Handle;
};

std::optional<std::string> FriendlyName(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    DWORD size = 0;
    ::SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0, &size);
    if (size == 0)
        return std::nullopt;
    std::string name(size, '\0');
    if (!::SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                             reinterpret_cast<BYTE*>(name.data()), size, nullptr))
        return std::nullopt;
    name.resize(std::min(name.find('\0'), name.size()));
    return name;
}

// The "PortName" value of the device's hardware key ("COM3"), or "".
std::string PortName(HDEVINFO devices, SP_DEVINFO_DATA& device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    std::string value;
    DWORD type = 0;
    DWORD size = 0;
    if (::RegQueryValueExA(key, "PortName", nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ &&
        size > 0) {
        value.resize(size);
        if (::RegQueryValueExA(key, "PortName", nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size) !=
            ERROR_SUCCESS)
            value.clear();
        value.resize(std::min(value.find('\0'), value.size()));
    }
    ::RegCloseKey(key);
    return value;
}

} // namespace

TPortNames::TPortNames(fs::path assignmentsFile, fs::path devRoot, fs::path sysRoot)
    : AssignmentsFile(std::move(assignmentsFile)), DevRoot(std::move(devRoot)), SysRoot(std::move(sysRoot))
{
}

std::vector<std::string> TPortNames::EnvironmentVariables()
{
    // The C library's copy, which getenv reads and _putenv changes.
    std::vector<std::string> variables;
    for (char** variable = _environ; variable != nullptr && *variable != nullptr; ++variable)
        variables.emplace_back(*variable);
    return variables;
}

std::optional<std::string> TPortNames::SystemDevicePath(int number)
{
    if (number <= 0)
        return std::nullopt;
    return ComDevicePath(number);
}

std::vector<TPortEntry> TPortNames::SystemPorts()
{
    std::vector<TPortEntry> entries;
    const TDeviceList devices(GUID_DEVCLASS_PORTS);
    if (!devices.Valid())
        return entries;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    // A device without a friendly name or without a COM number (a printer
    // port) is left out; a failing call only leaves its device out.
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices.Get(), index, &device); ++index) {
        const auto name = FriendlyName(devices.Get(), device);
        const int number = name ? ComNumber(PortName(devices.Get(), device)) : 0;
        if (number > 0)
            entries.push_back({number, *name, ComDevicePath(number)});
    }
    // Windows lists in its own order; numbers keep the list the same from
    // one look to the next.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const TPortEntry& a, const TPortEntry& b) { return a.Number < b.Number; });
    return entries;
}

bool CanBeAdapter(const TPortEntry&)
{
    return true;
}

} // namespace lindprog
