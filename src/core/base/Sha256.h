#pragma once
// SHA-256 of bytes, for a backup's manifest: a CRC-32 tells a damaged file
// by chance, the SHA-256 tells it for certain, and `sha256sum` checks it
// without us.

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace lindprog {

class TSha256 {
public:
    TSha256();
    void Add(std::span<const std::uint8_t> bytes);
    // The digest of everything added; the object is spent afterwards.
    std::array<std::uint8_t, 32> Finish();

private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> State;
    std::array<std::uint8_t, 64> Pending{};
    std::size_t PendingLength = 0;
    std::uint64_t Length = 0; // bytes added
};

// The digest as 64 lowercase hex digits, as sha256sum prints it.
std::string Sha256Hex(std::span<const std::uint8_t> bytes);

} // namespace lindprog
