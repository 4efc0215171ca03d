#include "core/update/FirmwareImage.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string>

namespace lindprog {

TFirmwareImage TFirmwareImage::Load(const std::filesystem::path& path)
{
    // The standard library's file is enough here: the file is read once, from
    // its start, and any failure after the open counts as nothing read.
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw TFirmwareFileError("Cannot open file \"" + path.string() + "\". " +
                                 std::strerror(errno != 0 ? errno : ENOENT));
    std::vector<std::uint8_t> bytes(ReadLimit);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (in.bad())
        return TFirmwareImage(); // a read that fails counts as nothing read
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return TFirmwareImage(std::move(bytes));
}

bool TFirmwareImage::IsValidSize(std::size_t size)
{
    return size >= PageRecordSize && size % PageRecordSize == 0 && size / PageRecordSize <= MaxPageCount;
}

std::span<const std::uint8_t> TFirmwareImage::Page(int index) const
{
    if (index < 0 || index >= PageCount())
        return {};
    return std::span(Data).subspan(static_cast<std::size_t>(index) * PageRecordSize, PageRecordSize);
}

} // namespace lindprog
