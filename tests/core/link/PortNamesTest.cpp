#include "core/link/PortNames.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using test::TEnvPort;
using test::TScratchDir;

// A /dev of the test's own: device nodes are plain files, by-id names are
// symlinks to them, as udev makes them.
class PortNamesTest : public ::testing::Test {
protected:
    TScratchDir Dir;
    fs::path Dev = Dir.Path / "dev";
    fs::path File = Dir.Path / "config" / "ports.conf";

    void SetUp() override
    {
        fs::create_directories(Dev / "serial" / "by-id");
        // Mappings the caller's shell may have set would show up in every list.
        TEnvPort::ClearAll();
    }
    void MakeDevice(const std::string& name) { std::ofstream(Dev / name) << ""; }
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
    }
};

TEST_F(PortNamesTest, EnvironmentWins)
{
    MakeDevice("ttyUSB0");
    TEnvPort env(1, "/tmp/somewhere");
    TPortNames names(File, Dev);
    EXPECT_EQ(names.DevicePath(1), "/tmp/somewhere");
}

TEST_F(PortNamesTest, UnknownNumberHasNoPath)
{
    TPortNames names(File, Dev);
    EXPECT_FALSE(names.DevicePath(1).has_value());
    EXPECT_TRUE(names.SystemPorts().empty());
}

TEST_F(PortNamesTest, SameAdapterKeepsItsNumberAcrossReplugAndRestart)
{
    MakeDevice("ttyUSB0");
    MakeDevice("ttyACM0");
    Link("usb-Corvane_Programmer_A1-if00-port0", "ttyUSB0");
    {
        TPortNames names(File, Dev);
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
    TPortNames names(File, Dev);
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
    TPortNames names(File, Dev);
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
    TPortNames names(File, Dev);
    const auto ports = names.SystemPorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].Number, 5);
}

TEST_F(PortNamesTest, AbsentAssignedDeviceStillNamesItsPath)
{
    fs::create_directories(File.parent_path());
    std::ofstream(File) << "4 " << (Dev / "ttyUSB9").string() << "\n";
    TPortNames names(File, Dev);
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
    TPortNames names(File, Dev);
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
    TPortNames names(File, Dev);
    EXPECT_TRUE(names.AvailablePorts().empty());
}

} // namespace
} // namespace lindprog
