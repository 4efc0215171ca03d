#include "core/update/FirmwareImage.h"

#include "core/base/UniqueFd.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace lindprog {

TFirmwareImage TFirmwareImage::Load(const std::filesystem::path& path)
{
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid())
        throw TFirmwareFileError("Cannot open file \"" + path.string() + "\". " + std::strerror(errno));
    std::vector<std::uint8_t> bytes(ReadLimit);
    std::size_t got = 0;
    // One read takes a regular file whole; the loop only matters for the odd
    // file system or pipe that hands data over in pieces.
    while (got < bytes.size()) {
        const ssize_t part = ::read(fd.Get(), bytes.data() + got, bytes.size() - got);
        if (part < 0 && errno == EINTR)
            continue;
        if (part < 0)
            return TFirmwareImage(); // a read that fails counts as nothing read
        if (part == 0)
            break;
        got += static_cast<std::size_t>(part);
    }
    bytes.resize(got);
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
