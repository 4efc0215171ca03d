#include "core/link/Com.h"

#include "core/base/UniqueFd.h"
#include "core/link/PortNames.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>

namespace lindprog {
namespace {

using namespace std::chrono;
using test::TBarePty;
using test::TEnvPort;
using test::TScratchDir;

class ComTest : public ::testing::Test {
protected:
    TScratchDir Dir;
    TPortNames Names{Dir.Path / "ports.conf", Dir.Path / "dev"};
    TCom Com{Names};
    // A test may shorten the process-wide write deadline.
    void TearDown() override { TCom::SetWriteTimeout(TCom::WriteTimeoutConstantMs, TCom::WriteTimeoutPerByteMs); }
};

TEST_F(ComTest, OpensTwoDigitPortNumbersLikeSingleDigitOnes)
{
    TBarePty pty2, pty12;
    TEnvPort env2(2, pty2.SlavePath), env12(12, pty12.SlavePath);
    ASSERT_TRUE(Com.Open(2));
    EXPECT_EQ(Com.PortNumber(), 2);
    ASSERT_TRUE(Com.Open(12));
    EXPECT_TRUE(Com.IsOpen());
    EXPECT_EQ(Com.PortNumber(), 12);
    EXPECT_EQ(Com.DevicePath(), pty12.SlavePath);
    Com.Close();
    EXPECT_FALSE(Com.IsOpen());
    EXPECT_EQ(Com.PortNumber(), 0);
}

TEST_F(ComTest, MissingPortFailsAndClosesTheOneOpenBefore)
{
    TBarePty pty;
    TEnvPort env(3, pty.SlavePath);
    TEnvPort missing(4, (Dir.Path / "no-such-tty").string());
    ASSERT_TRUE(Com.Open(3));
    EXPECT_FALSE(Com.Open(4));
    EXPECT_FALSE(Com.IsOpen());
    EXPECT_EQ(Com.PortNumber(), 0);
    EXPECT_FALSE(Com.OpenError().empty());
    EXPECT_FALSE(Com.Open(77)) << "a number nothing maps to";
    EXPECT_FALSE(Com.IsOpen());
}

TEST_F(ComTest, RefusesAFileThatIsNotATerminal)
{
    const auto file = Dir.Path / "plain";
    {
        std::ofstream(file) << "x";
    }
    TEnvPort env(5, file.string());
    EXPECT_FALSE(Com.Open(5));
    EXPECT_EQ(Com.OpenError(), "not a serial device");
}

TEST_F(ComTest, SecondOpenOfTheSamePortIsRefused)
{
    TBarePty pty;
    TEnvPort env(6, pty.SlavePath);
    ASSERT_TRUE(Com.Open(6));
    // The terminal itself is in exclusive mode while the port is open (a
    // root test process may still look, so the mode is asked, not tried).
    const TUniqueFd probe(::open(pty.SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    ASSERT_TRUE(probe.Valid());
    int exclusive = 0;
    ASSERT_EQ(::ioctl(probe.Get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 1);
    TCom other(Names);
    EXPECT_FALSE(other.Open(6));
    EXPECT_EQ(other.OpenError(), "port is in use by another program");
    Com.Close();
    ASSERT_EQ(::ioctl(probe.Get(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "exclusive mode ends with the close";
    EXPECT_TRUE(other.Open(6)) << "the lock goes with the close";
}

TEST_F(ComTest, ReadWithoutDataTimesOutWithZeroBytes)
{
    TBarePty pty;
    TEnvPort env(1, pty.SlavePath);
    ASSERT_TRUE(Com.Open(1));
    std::uint8_t buffer[16];
    std::size_t count = sizeof buffer;
    const auto start = steady_clock::now();
    EXPECT_TRUE(Com.Read(buffer, count));
    const auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
    EXPECT_EQ(count, 0u);
    EXPECT_GE(waited, 190);
    EXPECT_EQ(Com.LastReadError(), TComError::None);
}

TEST_F(ComTest, ReadAndWriteMoveBytesBothWays)
{
    TBarePty pty;
    TEnvPort env(1, pty.SlavePath);
    ASSERT_TRUE(Com.Open(1));
    const std::uint8_t out[] = {0x1B, 0x00, 0x0E, 0xFF, 0x11, 0x13};
    std::size_t count = sizeof out;
    ASSERT_TRUE(Com.Write(out, count));
    EXPECT_EQ(count, sizeof out);
    std::uint8_t seen[16];
    ASSERT_EQ(::read(pty.Master, seen, sizeof seen), static_cast<ssize_t>(sizeof out));
    EXPECT_TRUE(std::equal(out, out + sizeof out, seen)) << "raw mode: no translation, no flow control";

    ASSERT_EQ(::write(pty.Master, out, sizeof out), static_cast<ssize_t>(sizeof out));
    std::uint8_t in[16];
    count = sizeof in;
    ASSERT_TRUE(Com.Read(in, count));
    EXPECT_EQ(count, sizeof out);
}

TEST_F(ComTest, CancelWakesAReadAtOnce)
{
    TBarePty pty;
    TEnvPort env(1, pty.SlavePath);
    ASSERT_TRUE(Com.Open(1));
    Com.CancelRead();
    std::uint8_t buffer[4];
    std::size_t count = sizeof buffer;
    const auto start = steady_clock::now();
    EXPECT_TRUE(Com.Read(buffer, count));
    EXPECT_LT(duration_cast<milliseconds>(steady_clock::now() - start).count(), 100);
    EXPECT_EQ(Com.LastReadError(), TComError::Cancelled);
    Com.ClearCancel();
}

TEST_F(ComTest, ClosedMasterReadsAsPortGone)
{
    TBarePty pty;
    TEnvPort env(1, pty.SlavePath);
    ASSERT_TRUE(Com.Open(1));
    pty.CloseMaster();
    std::uint8_t buffer[4];
    std::size_t count = sizeof buffer;
    EXPECT_FALSE(Com.Read(buffer, count));
    EXPECT_EQ(Com.LastReadError(), TComError::PortGone);
    count = 1;
    EXPECT_FALSE(Com.Write(buffer, count));
}

TEST_F(ComTest, StalledWriteGivesUpAtItsDeadlineAndCountsWhatWent)
{
    TBarePty pty;
    TEnvPort env(1, pty.SlavePath);
    ASSERT_TRUE(Com.Open(1));
    TCom::SetWriteTimeout(50, 0);
    // Nobody reads the other side, so its buffer fills and a write stalls,
    // most likely part-way through a chunk.
    const std::vector<std::uint8_t> chunk(4096, 0x5A);
    std::size_t written = 0;
    bool stalled = false;
    for (int round = 0; round < 100 && !stalled; ++round) {
        std::size_t count = chunk.size();
        stalled = !Com.Write(chunk.data(), count);
        ASSERT_LE(count, chunk.size());
        written += count;
    }
    ASSERT_TRUE(stalled);
    // The counts add up to exactly what reached the other side.
    std::size_t arrived = 0;
    std::vector<std::uint8_t> in(65536);
    pollfd master{pty.Master, POLLIN, 0};
    while (::poll(&master, 1, 200) > 0) {
        const ssize_t got = ::read(pty.Master, in.data(), in.size());
        if (got <= 0)
            break;
        arrived += static_cast<std::size_t>(got);
    }
    EXPECT_EQ(arrived, written);
}

TEST_F(ComTest, WriteDeadlineGrowsWithTheFrame)
{
    EXPECT_EQ(TCom::WriteTimeoutMs(0), 1000);
    EXPECT_EQ(TCom::WriteTimeoutMs(2063), 1000 + 5 * 2063);
}

TEST_F(ComTest, NothingIsReadOrWrittenWhenClosed)
{
    std::uint8_t buffer[4];
    std::size_t count = sizeof buffer;
    EXPECT_FALSE(Com.Read(buffer, count));
    count = sizeof buffer;
    EXPECT_FALSE(Com.Write(buffer, count));
    EXPECT_EQ(count, 0u);
}

} // namespace
} // namespace lindprog
