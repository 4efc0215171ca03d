#pragma once
// The CRC that the log prints after a device read and a file load: the STM32
// hardware CRC unit's computation. Polynomial 0x04C11DB7, not reflected, no
// final XOR, one 32-bit word at a time; buffer words are read little-endian.
// Callers start from CrcStart and print the result with "%.08X".
//
// The folding is table driven (eight tables, two words per step) so that a
// 16 MiB buffer takes a few milliseconds; it gives exactly the results of the
// shift-and-XOR loop of the hardware.

#include <cstdint>
#include <span>

namespace lindprog {

inline constexpr std::uint32_t CrcStart = 0xFFFFFFFF;
inline constexpr std::uint32_t CrcPolynomial = 0x04C11DB7;

// Folds one 32-bit word into the register and returns the new register.
std::uint32_t CrcUpdateWord(std::uint32_t reg, std::uint32_t word);

// Folds `count` words in order; a count of 0 or less returns `reg` unchanged.
std::uint32_t CrcUpdateBuffer(std::uint32_t reg, const std::uint32_t* words, std::int32_t count);

// Folds the whole little-endian words of `bytes` (size div 4 of them); the 1 to
// 3 bytes after the last whole word are never included. A device read carries
// the register from block to block with this; a file load folds the buffer once.
std::uint32_t CrcUpdateBytes(std::uint32_t reg, std::span<const std::uint8_t> bytes);

} // namespace lindprog
