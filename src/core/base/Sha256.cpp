#include "core/base/Sha256.h"

#include <algorithm>

namespace lindprog {

namespace {

constexpr std::array<std::uint32_t, 64> RoundConstants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotate(std::uint32_t value, int bits)
{
    return (value >> bits) | (value << (32 - bits));
}

} // namespace

TSha256::TSha256()
    : State{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19}
{
}

void TSha256::Compress(const std::uint8_t* block)
{
    std::array<std::uint32_t, 64> words{};
    for (std::size_t k = 0; k < 16; ++k)
        words[k] = std::uint32_t{block[4 * k]} << 24 | std::uint32_t{block[4 * k + 1]} << 16 |
                   std::uint32_t{block[4 * k + 2]} << 8 | std::uint32_t{block[4 * k + 3]};
    for (std::size_t k = 16; k < 64; ++k) {
        const std::uint32_t s0 = Rotate(words[k - 15], 7) ^ Rotate(words[k - 15], 18) ^ (words[k - 15] >> 3);
        const std::uint32_t s1 = Rotate(words[k - 2], 17) ^ Rotate(words[k - 2], 19) ^ (words[k - 2] >> 10);
        words[k] = words[k - 16] + s0 + words[k - 7] + s1;
    }
    auto [a, b, c, d, e, f, g, h] = State;
    for (std::size_t k = 0; k < 64; ++k) {
        const std::uint32_t t1 =
            h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + RoundConstants[k] + words[k];
        const std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    const std::array<std::uint32_t, 8> added{a, b, c, d, e, f, g, h};
    for (std::size_t k = 0; k < 8; ++k)
        State[k] += added[k];
}

void TSha256::Add(std::span<const std::uint8_t> bytes)
{
    Length += bytes.size();
    while (!bytes.empty()) {
        if (PendingLength == 0 && bytes.size() >= Pending.size()) {
            Compress(bytes.data());
            bytes = bytes.subspan(Pending.size());
            continue;
        }
        const std::size_t taken = std::min(bytes.size(), Pending.size() - PendingLength);
        std::copy_n(bytes.begin(), taken, Pending.begin() + static_cast<std::ptrdiff_t>(PendingLength));
        PendingLength += taken;
        bytes = bytes.subspan(taken);
        if (PendingLength == Pending.size()) {
            Compress(Pending.data());
            PendingLength = 0;
        }
    }
}

std::array<std::uint8_t, 32> TSha256::Finish()
{
    const std::uint64_t bits = Length * 8;
    // A 1 bit, zeros up to 8 bytes short of a block's end, the length in bits.
    std::array<std::uint8_t, 72> padding{0x80};
    const std::size_t zeros = (PendingLength < 56 ? 56 : 120) - PendingLength;
    for (std::size_t k = 0; k < 8; ++k)
        padding[zeros + k] = static_cast<std::uint8_t>(bits >> (56 - 8 * k));
    Add(std::span<const std::uint8_t>(padding.data(), zeros + 8));
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t k = 0; k < 32; ++k)
        digest[k] = static_cast<std::uint8_t>(State[k / 4] >> (24 - 8 * (k % 4)));
    return digest;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes)
{
    TSha256 sha;
    sha.Add(bytes);
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (const std::uint8_t byte : sha.Finish()) {
        text += Digits[byte >> 4];
        text += Digits[byte & 0x0F];
    }
    return text;
}

} // namespace lindprog
