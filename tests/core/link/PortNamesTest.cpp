#include "core/link/PortNames.h"

#include "core/base/UniqueFd.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/inotify.h>
#include <unistd.h>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using test::TEnvPort;
using test::TScratchDir;

// A /dev and a sysfs of the test's own: device nodes are plain files, by-id
// names are symlinks to them, as udev makes them, and each tty the kernel knows
// has a folder under class/tty, with a `device` link where hardware is behind.
class PortNamesTest : public ::testing::Test {
protected:
    TScratchDir Dir;
    fs::path Dev = Dir.Path / "dev";
    fs::path Sys = Dir.Path / "sys" / "class" / "tty";
    fs::path Devices = Dir.Path / "sys" / "devices";
    fs::path File = Dir.Path / "config" / "ports.conf";

    void SetUp() override
    {
        fs::create_directories(Dev / "serial" / "by-id");
        fs::create_directories(Sys);
        // Mappings the caller's shell may have set would show up in every list.
        TEnvPort::ClearAll();
    }
    void MakeSysEntry(const std::string& name, bool hardware = true)
    {
        fs::create_directories(Sys / name);
        if (!hardware)
            return;
        fs::create_directories(Devices / name);
        fs::create_directory_symlink(Devices / name, Sys / name / "device");
    }
    void MakeDevice(const std::string& name, bool hardware = true)
    {
        std::ofstream(Dev / name) << "";
        MakeSysEntry(name, hardware);
    }
    // A port of the 8250 driver, which makes one whether or not a UART answers
    // there; `type` is what the driver found, none for kernels without it.
    void MakeLegacyPort(const std::string& name, std::optional<std::string> type)
    {
        MakeDevice(name);
        if (type)
            std::ofstream(Sys / name / "type") << *type << "\n";
        const fs::path driver = Dir.Path / "sys" / "bus" / "platform" / "drivers" / "serial8250";
        fs::create_directories(driver);
        fs::create_directory_symlink(driver, Devices / name / "driver");
    }
    void Link(const std::string& id, const std::string& device)
    {
        std::error_code ignored;
        fs::remove(Dev / "serial" / "by-id" / id, ignored);
        fs::create_symlink(Dev / device, Dev / "serial" / "by-id" / id);
    }
    void Unplug(const std::string& id, const std::string& device)
    {
        fs::remove(Dev / "serial" / "by-id" / id);
        fs::remove(Dev / device);
        fs::remove_all(Sys / device);
    }
};

// Names of the files in `folder` opened while it lives, seen by inotify, so it
// holds for a root test process too.
class TOpenWatch {
public:
    explicit TOpenWatch(const fs::path& folder) : Fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        Watching = Fd.Valid() && ::inotify_add_watch(Fd.Get(), folder.c_str(), IN_OPEN) >= 0;
    }
    std::vector<std::string> Opened() const
    {
        std::vector<std::string> names;
        alignas(inotify_event) char events[4096];
        ssize_t got = 0;
        while ((got = ::read(Fd.Get(), events, sizeof events)) > 0) {
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(events + at);
                if (event->len > 0) // the folder's own opening has no name
                    names.emplace_back(event->name);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }
    bool Watching = false;

private:
    TUniqueFd Fd;
};

TEST_F(PortNamesTest, PortsComeFromSysfsAndNoneIsOpened)
{
    MakeDevice("ttyUSB0");
    Link("usb-Corvane_Programmer_A1-if00-port0", "ttyUSB0");
    MakeDevice("ttyACM0");
    MakeLegacyPort("ttyS0", "0");          // no UART behind it
    MakeLegacyPort("ttyS1", "4");          // a 16550A
    MakeLegacyPort("ttyS2", std::nullopt); // the 8250 placeholder, no type to tell
    MakeDevice("tty1", false);             // a virtual console
    MakeSysEntry("ttyUSB7");               // known to the kernel but without a node here
    const TOpenWatch watch(Dev);
    ASSERT_TRUE(watch.Watching);

    TPortNames names(File, Dev, Sys);
    std::vector<std::pair<std::string, std::string>> seen;
    for (const auto& port : names.SystemPorts())
        seen.emplace_back(port.Key, port.DevicePath);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {(Dev / "serial" / "by-id" / "usb-Corvane_Programmer_A1-if00-port0").string(), (Dev / "ttyUSB0").string()},
        {(Dev / "ttyACM0").string(), (Dev / "ttyACM0").string()},
        {(Dev / "ttyS1").string(), (Dev / "ttyS1").string()}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(names.DevicePath(3), (Dev / "ttyS1").string());
    EXPECT_EQ(watch.Opened(), std::vector<std::string>{}) << "opening a port can reset the board behind it";
}

TEST_F(PortNamesTest, EnvironmentWins)
{
    MakeDevice("ttyUSB0");
    TEnvPort env(1, "/tmp/somewhere");
    TPortNames names(File, Dev, Sys);
    EXPECT_EQ(names.DevicePath(1), "/tmp/somewhere");
}

TEST_F(PortNamesTest, UnknownNumberHasNoPath)
{
    TPortNames names(File, Dev, Sys);
    EXPECT_FALSE(names.DevicePath(1).has_value());
    EXPECT_TRUE(names.SystemPorts().empty());
}

TEST_F(PortNamesTest, SameAdapterKeepsItsNumberAcrossReplugAndRestart)
{
    MakeDevice("ttyUSB0");
    MakeDevice("ttyACM0");
    Link("usb-Corvane_Programmer_A1-if00-port0", "ttyUSB0");
    {
        TPortNames names(File, Dev, Sys);
        const auto ports = names.SystemPorts();
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports[0].Number, 1) << "stable names are numbered first";
        EXPECT_EQ(ports[0].DevicePath, (Dev / "ttyUSB0").string());
        EXPECT_EQ(ports[1].Number, 2);
        EXPECT_EQ(ports[1].Key, (Dev / "ttyACM0").string());
    }
    // Replugged on another socket: the kernel calls it ttyUSB1 now, and the
    // ACM device is gone; a new program run still finds the adapter as COM1.
    Unplug("usb-Corvane_Programmer_A1-if00-port0", "ttyUSB0");
    fs::remove(Dev / "ttyACM0");
    MakeDevice("ttyUSB1");
    Link("usb-Corvane_Programmer_A1-if00-port0", "ttyUSB1");
    MakeDevice("ttyUSB0"); // a different, new adapter
    TPortNames names(File, Dev, Sys);
    EXPECT_EQ(names.DevicePath(1), (Dev / "ttyUSB1").string());
    const auto ports = names.SystemPorts();
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].Number, 1);
    EXPECT_EQ(ports[1].Number, 3) << "COM2 stays reserved for the absent ACM device";
    EXPECT_EQ(ports[1].DevicePath, (Dev / "ttyUSB0").string());
}

TEST_F(PortNamesTest, NumberSeenForTheFirstTimeIsAssignedOnLookup)
{
    MakeDevice("ttyUSB0");
    TPortNames names(File, Dev, Sys);
    EXPECT_EQ(names.DevicePath(1), (Dev / "ttyUSB0").string());
    std::ifstream saved(File);
    std::string line;
    std::getline(saved, line);
    EXPECT_EQ(line, "1 " + (Dev / "ttyUSB0").string());
}

TEST_F(PortNamesTest, DamagedAssignmentLinesAreSkipped)
{
    fs::create_directories(File.parent_path());
    std::ofstream(File) << "garbage\n0 /dev/x\n-4 /dev/y\n7\n5 " << (Dev / "ttyUSB0").string() << "\n";
    MakeDevice("ttyUSB0");
    TPortNames names(File, Dev, Sys);
    const auto ports = names.SystemPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].Number, 5);
}

TEST_F(PortNamesTest, AbsentAssignedDeviceStillNamesItsPath)
{
    fs::create_directories(File.parent_path());
    std::ofstream(File) << "4 " << (Dev / "ttyUSB9").string() << "\n";
    TPortNames names(File, Dev, Sys);
    EXPECT_EQ(names.DevicePath(4), (Dev / "ttyUSB9").string());
}

TEST_F(PortNamesTest, EnvironmentMappingsAreListedByNumber)
{
    TEnvPort twelve(12, "/tmp/twelve");
    TEnvPort three(3, "/tmp/three");
    TEnvPort empty(4, "");
    const auto ports = TPortNames::EnvironmentPorts();
    std::vector<std::pair<int, std::string>> seen;
    for (const auto& port : ports) {
        EXPECT_TRUE(port.Mapped);
        seen.emplace_back(port.Number, port.DevicePath);
    }
    const std::vector<std::pair<int, std::string>> expected = {{3, "/tmp/three"}, {12, "/tmp/twelve"}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(ports[0].Key, "LINDPROG_COM3");
}

TEST_F(PortNamesTest, EnvironmentNamesThatNoNumberResolvesAreNotListed)
{
    for (const char* name : {"LINDPROG_COM", "LINDPROG_COM0", "LINDPROG_COM07", "LINDPROG_COMx", "LINDPROG_COM-2",
                             "LINDPROG_COM99999999999"})
        ::setenv(name, "/tmp/bad", 1);
    const auto ports = TPortNames::EnvironmentPorts();
    for (const char* name : {"LINDPROG_COM", "LINDPROG_COM0", "LINDPROG_COM07", "LINDPROG_COMx", "LINDPROG_COM-2",
                             "LINDPROG_COM99999999999"})
        ::unsetenv(name);
    EXPECT_TRUE(ports.empty()) << ports.front().Key;
}

TEST_F(PortNamesTest, AvailablePortsMergeMappingsAndSystemPorts)
{
    MakeDevice("ttyUSB0");
    MakeDevice("ttyUSB1");
    MakeDevice("ttyACM0");
    TEnvPort mapped(2, "/tmp/sim");
    TEnvPort far(9, "/tmp/far");
    TPortNames names(File, Dev, Sys);
    // System numbering: ttyACM0 1, ttyUSB0 2, ttyUSB1 3. COM2 is mapped, so the
    // system's COM2 can't be opened under that number and is left out.
    const auto ports = names.AvailablePorts();
    std::vector<std::pair<int, std::string>> seen;
    for (const auto& port : ports)
        seen.emplace_back(port.Number, port.DevicePath);
    const std::vector<std::pair<int, std::string>> expected = {
        {1, (Dev / "ttyACM0").string()}, {2, "/tmp/sim"}, {3, (Dev / "ttyUSB1").string()}, {9, "/tmp/far"}};
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(ports[0].Mapped);
    EXPECT_TRUE(ports[1].Mapped);
    // Every listed number opens what the list shows.
    for (const auto& port : ports)
        EXPECT_EQ(names.DevicePath(port.Number), port.DevicePath) << port.Number;
}

TEST_F(PortNamesTest, NoPortsAtAll)
{
    TPortNames names(File, Dev, Sys);
    EXPECT_TRUE(names.AvailablePorts().empty());
}

} // namespace
} // namespace lindprog
