#pragma once
// The adapter's firmware update file: raw page records of 2056 bytes, from one
// to 127 of them, with no header. The program checks only the size; what a
// record holds is the bootloader's business, and it is sent unchanged.

#include "core/link/AdapterCommands.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <vector>

namespace lindprog {

class TFirmwareFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TFirmwareImage {
public:
    static constexpr std::size_t PageRecordSize = FirmwarePageSize;
    static constexpr std::size_t MaxPageCount = 127;
    // What is read of a file at most; a longer file reads as this much, which
    // is no whole number of records, so it is refused.
    static constexpr std::size_t ReadLimit = 0x40000;

    TFirmwareImage() = default;
    explicit TFirmwareImage(std::vector<std::uint8_t> bytes) : Data(std::move(bytes)) {}

    // Reads up to ReadLimit bytes from the start of the file. A file that
    // can't be opened throws TFirmwareFileError ("Cannot open file "%s". %s");
    // a read that fails gives an empty image.
    static TFirmwareImage Load(const std::filesystem::path& path);

    static bool IsValidSize(std::size_t size);
    // Whole page records in `size` bytes: what the update sends and counts.
    static int PageCountOf(std::size_t size) { return static_cast<int>(size / PageRecordSize); }
    bool IsValid() const { return IsValidSize(Data.size()); }
    std::size_t Size() const { return Data.size(); }
    int PageCount() const { return PageCountOf(Data.size()); }
    std::span<const std::uint8_t> Bytes() const { return Data; }
    // Page record `index`, counting from 0; empty past the last whole record.
    std::span<const std::uint8_t> Page(int index) const;

private:
    std::vector<std::uint8_t> Data;
};

} // namespace lindprog
