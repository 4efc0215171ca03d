#include "RawPort.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace lindprog::sim::test {

TBytes MakeFrame(std::uint8_t sequence, std::span<const std::uint8_t> payload)
{
    TBytes frame;
    frame.reserve(payload.size() + 6);
    frame.push_back(27);
    frame.push_back(sequence);
    frame.push_back(static_cast<std::uint8_t>(payload.size() >> 8));
    frame.push_back(static_cast<std::uint8_t>(payload.size() & 0xFF));
    frame.push_back(14);
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::uint8_t check = 0;
    for (const auto b : frame)
        check ^= b;
    frame.push_back(check);
    return frame;
}

std::uint32_t LittleU32(const TBytes& bytes, std::size_t offset)
{
    return bytes.at(offset) | (bytes.at(offset + 1) << 8) | (bytes.at(offset + 2) << 16) |
           (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
}

bool TRawPort::Open(const std::string& path)
{
    Close();
    Fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0)
        return false;
    termios mode{};
    ::tcgetattr(Fd, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(Fd, TCSANOW, &mode);
    return true;
}

void TRawPort::Close()
{
    if (Fd >= 0)
        ::close(Fd);
    Fd = -1;
}

bool TRawPort::Write(std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(Fd, bytes.data() + done, bytes.size() - done);
        if (put > 0) {
            done += static_cast<std::size_t>(put);
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd entry{Fd, POLLOUT, 0};
        if (::poll(&entry, 1, 2000) <= 0)
            return false;
    }
    return true;
}

TBytes TRawPort::Read(std::size_t count, std::chrono::milliseconds timeout)
{
    TBytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd entry{Fd, POLLIN, 0};
        if (left.count() < 0 || ::poll(&entry, 1, static_cast<int>(left.count()) + 1) <= 0)
            break;
        std::uint8_t chunk[4096];
        const ssize_t got = ::read(Fd, chunk, std::min(sizeof chunk, count - bytes.size()));
        if (got <= 0) {
            if (got < 0 && errno == EAGAIN)
                continue;
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

TBytes TRawPort::ReadSome(std::size_t limit, std::chrono::milliseconds timeout)
{
    TBytes bytes = Read(1, timeout);
    if (bytes.empty() || limit <= 1)
        return bytes;
    std::uint8_t chunk[4096];
    const ssize_t got = ::read(Fd, chunk, std::min(sizeof chunk, limit - 1));
    if (got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    return bytes;
}

std::optional<TRawFrame> TRawPort::ReadFrame(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    TRawFrame frame;
    frame.Raw = Read(5, timeout);
    if (frame.Raw.size() < 5 || frame.Raw[0] != 27)
        return std::nullopt;
    frame.Sequence = frame.Raw[1];
    frame.Length = (static_cast<std::size_t>(frame.Raw[2]) << 8) | frame.Raw[3];
    frame.Mark = frame.Raw[4];
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    const TBytes rest = Read(frame.Length + 1, std::max(left, 1ms));
    if (rest.size() < frame.Length + 1)
        return std::nullopt;
    frame.Raw.insert(frame.Raw.end(), rest.begin(), rest.end());
    frame.Payload.assign(rest.begin(), rest.end() - 1);
    std::uint8_t check = 0;
    for (std::size_t i = 0; i + 1 < frame.Raw.size(); ++i)
        check ^= frame.Raw[i];
    frame.CheckOk = check == frame.Raw.back();
    return frame;
}

bool TRawPort::WaitForHangUp(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd entry{Fd, POLLIN, 0};
        if (::poll(&entry, 1, 50) < 0)
            return true;
        if ((entry.revents & (POLLHUP | POLLERR)) != 0)
            return true;
        if ((entry.revents & POLLIN) != 0) {
            std::uint8_t byte = 0;
            const ssize_t got = ::read(Fd, &byte, 1);
            if (got == 0 || (got < 0 && errno != EAGAIN))
                return true;
        }
    }
    return false;
}

THarness::THarness(const nlohmann::json& scenario, TSimOptions options) : Simulator(scenario, 0, std::move(options))
{
    if (Simulator.Started && !SerialPort.Open(Sim().SlavePath()))
        ADD_FAILURE() << "cannot open " << Sim().SlavePath();
}

bool THarness::Reopen()
{
    SerialPort.Close();
    return SerialPort.Open(Sim().SlavePath());
}

TRawFrame THarness::Call(const TBytes& payload)
{
    const std::uint8_t sequence = NextSequence();
    EXPECT_TRUE(SerialPort.Write(MakeFrame(sequence, payload)));
    auto reply = SerialPort.ReadFrame();
    if (!reply) {
        ADD_FAILURE() << "no reply to command " << int(payload.empty() ? 0 : payload[0]);
        return {};
    }
    EXPECT_TRUE(reply->CheckOk);
    EXPECT_EQ(reply->Mark, 14);
    EXPECT_EQ(reply->Sequence, sequence);
    EXPECT_GE(reply->Payload.size(), 2u);
    if (!payload.empty() && !reply->Payload.empty()) {
        EXPECT_EQ(reply->Echo(), payload[0]);
    }
    return *reply;
}

nlohmann::json OneRegion(std::uint32_t size)
{
    auto scenario = nlohmann::json::parse(R"({"devices": [{"name": "MCU", "regions": [
        {"name": "Code flash", "flags": 7, "size": 0}]}]})");
    scenario["devices"][0]["regions"][0]["size"] = size;
    return scenario;
}

TBytes StartOperation(std::uint8_t device, std::uint8_t region, std::uint8_t operation, std::uint8_t voltage)
{
    TBytes payload(73, 0);
    payload[0] = 160;
    payload[1] = device;
    payload[2] = region;
    payload[3] = operation;
    payload[4] = 10; // JTAG delay, little-endian u32
    payload[8] = voltage;
    return payload;
}

TBytes Block(std::uint8_t code, std::uint32_t offset, std::uint16_t count, const TBytes& data)
{
    TBytes payload{code};
    for (int shift = 0; shift < 32; shift += 8)
        payload.push_back((offset >> shift) & 0xFF);
    payload.push_back(count & 0xFF);
    payload.push_back(count >> 8);
    payload.insert(payload.end(), data.begin(), data.end());
    return payload;
}

} // namespace lindprog::sim::test
