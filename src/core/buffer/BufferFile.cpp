#include "core/buffer/BufferFile.h"

#include "core/base/Stm32Crc.h"
#include "core/base/TextFormat.h"
#include "core/buffer/FileAccess.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <system_error>

namespace lindprog {
namespace {

namespace fs = std::filesystem;

// What a file of unknown size is read in at first; the pieces then double.
constexpr std::size_t MinReadPiece = 64 * 1024;

[[noreturn]] void CannotOpen(const std::string& name, const std::string& reason)
{
    throw TFileError("Cannot open file \"" + name + "\". " + reason);
}

[[noreturn]] void CannotCreate(const std::string& name, const std::string& reason)
{
    throw TFileError("Cannot create file \"" + name + "\". " + reason);
}

[[noreturn]] void CannotRead(const std::string& name, const std::string& reason)
{
    throw TFileError("Cannot read file \"" + name + "\". " + reason);
}

TFileReader OpenForReading(const std::string& name)
{
    TFileReader file(name);
    if (!file.IsOpen())
        CannotOpen(name, file.Failure());
    return file;
}

// Reads until the buffer is full or the file ends; the count tells what
// arrived. A failed read throws: half a file is no file.
std::size_t ReadUpTo(TFileReader& file, std::span<std::uint8_t> buffer, const std::string& name)
{
    const std::optional<std::size_t> got = file.ReadUpTo(buffer);
    if (!got)
        CannotRead(name, file.Failure());
    return *got;
}

// Links followed before a save gives up, as the kernel's own limit.
constexpr int MaxLinkHops = 40;

// A link is replaced through: the file it points at gets the new contents and
// the link stays a link. Only a regular file or a new one is written: a
// device, FIFO or socket in its place would be replaced by a regular file.
fs::path ReplacedFile(const std::string& name)
{
    fs::path target = name;
    std::error_code error;
    for (int hop = 0; hop < MaxLinkHops && fs::is_symlink(target, error); ++hop) {
        if (!MayFollowLink(target))
            CannotCreate(name, "Permission denied");
        const fs::path next = fs::read_symlink(target, error);
        if (error)
            CannotCreate(name, error.message());
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    if (fs::is_symlink(target, error))
        CannotCreate(name, "Too many levels of symbolic links");
    const fs::file_status status = fs::status(target, error);
    if (fs::is_character_file(status) || fs::is_block_file(status) || fs::is_fifo(status) || fs::is_socket(status))
        CannotCreate(name, "Not a regular file");
    return target.lexically_normal();
}

// A text file's contents, through the same safe save as the raw bytes.
void WriteText(const std::string& name, const std::string& text)
{
    WriteFileContents(name, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::string LoadedLine(std::size_t bytesRead, std::uint32_t crc)
{
    char line[80];
    std::snprintf(line, sizeof line, "Loaded %zu bytes, CRC32 = %.08X", bytesRead, static_cast<unsigned>(crc));
    return line;
}

} // namespace

std::string FullPath(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

bool LoadBufferFile(const std::string& path, std::span<std::uint8_t> buffer, TChangeTracking& view, TLogSink& log,
                    TPrompts& prompts)
{
    const std::string name = FullPath(path);
    log.AddLogLine("Opening file [" + name + "]...");
    TFileReader file = OpenForReading(name);
    const bool agreed = file.Size() == buffer.size() || prompts.AskWarning(FileSizeQuestion) == TAnswer::Yes;
    if (!agreed)
        return false;
    // Read aside first: a read that fails must leave the buffer as it was.
    std::vector<std::uint8_t> contents(buffer.size());
    const std::size_t bytesRead = ReadUpTo(file, contents, name);
    file.Close();
    view.Clear();
    std::copy_n(contents.begin(), bytesRead, buffer.begin());
    // The CRC covers the whole buffer, the zeros after a short file included.
    log.AddLogLine(LoadedLine(bytesRead, CrcUpdateBytes(CrcStart, buffer)));
    view.UpdateChanges();
    return true;
}

void WriteFileContents(const std::string& path, std::span<const std::uint8_t> bytes)
{
    const std::string name = FullPath(path);
    if (const std::string failure = ReplaceFileContents(ReplacedFile(name), bytes); !failure.empty())
        CannotCreate(name, failure);
}

std::size_t SaveBufferFile(const std::string& path, std::span<const std::uint8_t> buffer, TChangeTracking& view,
                           TLogSink& log)
{
    return SaveImageFile(path, buffer, 0, view, log);
}

std::size_t SaveImageFile(const std::string& path, std::span<const std::uint8_t> buffer, std::uint64_t base,
                          TChangeTracking& view, TLogSink& log)
{
    const std::string name = FullPath(path);
    log.AddLogLine("Saving file [" + name + "]...");
    switch (FormatForFileName(name)) {
    case TImageFormat::IntelHex: WriteText(name, WriteIntelHex(buffer, base)); break;
    case TImageFormat::SRecord: WriteText(name, WriteSRecord(buffer, base)); break;
    default: WriteFileContents(name, buffer); break;
    }
    log.AddLogLine("Saved " + std::to_string(buffer.size()) + " bytes");
    view.UpdateChanges();
    return buffer.size();
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::size_t limit)
{
    const std::string name = FullPath(path);
    TFileReader file = OpenForReading(name);
    // The reported size is a first guess only: files under /proc report 0,
    // and a file may grow while it is read.
    const std::size_t most = limit == std::numeric_limits<std::size_t>::max() ? limit : limit + 1;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(file.Size() + 1, most));
    std::vector<std::uint8_t> bytes;
    std::size_t done = 0;
    for (;;) {
        bytes.resize(want);
        done += ReadUpTo(file, std::span(bytes).subspan(done), name);
        if (done < want || want == most)
            break;
        want = std::min(most, std::max(want * 2, MinReadPiece));
    }
    if (done > limit)
        CannotRead(name, "File too large: more than " + std::to_string(limit) + " bytes");
    bytes.resize(done);
    return bytes;
}

std::string ImageLoadedLine(const TImage& image, std::span<const std::uint8_t> buffer)
{
    char line[160];
    std::snprintf(line, sizeof line, "Loaded %zu bytes in %zu segments [%.08llX-%.08llX], CRC32 = %.08X",
                  image.ByteCount(), image.Segments.size(), static_cast<unsigned long long>(image.Lowest()),
                  static_cast<unsigned long long>(image.End() == 0 ? 0 : image.End() - 1),
                  static_cast<unsigned>(CrcUpdateBytes(CrcStart, buffer)));
    return line;
}

void LoadImageIntoBuffer(const std::string& path, const TImage& image, std::uint64_t base,
                         std::span<std::uint8_t> buffer, TChangeTracking& view, TLogSink& log)
{
    log.AddLogLine("Opening file [" + FullPath(path) + "]...");
    PlaceImage(image, base, buffer);
    log.AddLogLine(ImageLoadedLine(image, buffer));
    view.UpdateChanges();
}

void PlaceFileInRegion(const std::string& path, std::span<const std::uint8_t> bytes, const TImage* image,
                       std::uint64_t base, bool pad, std::span<std::uint8_t> buffer, TChangeTracking& view,
                       TLogSink& log)
{
    if (image != nullptr) {
        LoadImageIntoBuffer(path, *image, base, buffer, view, log);
        return;
    }
    if (bytes.size() != buffer.size() && !(pad && bytes.size() < buffer.size()))
        throw TFileError(path + " holds " + std::to_string(bytes.size()) + " bytes, the region " +
                         std::to_string(buffer.size()));
    log.AddLogLine("Opening file [" + FullPath(path) + "]...");
    std::fill(std::copy(bytes.begin(), bytes.end(), buffer.begin()), buffer.end(), std::uint8_t{0xFF});
    log.AddLogLine(LoadedLine(bytes.size(), CrcUpdateBytes(CrcStart, buffer)));
    view.UpdateChanges();
}

TCommandFile ReadCommandFile(const std::string& path)
{
    TCommandFile file;
    file.Bytes = ReadWholeFile(path, MaxRegionBytes);
    if (DetectImageFormat(file.Bytes) == TImageFormat::Raw)
        return file;
    try {
        file.Image = ParseImage(file.Bytes);
    } catch (const TImageError& error) {
        throw TFileError(path + ": " + error.what());
    }
    return file;
}

std::optional<std::uint64_t> ImplicitImageBase(const TImage& image, std::uint32_t regionSize)
{
    const std::uint64_t base = DefaultImageBase(image, regionSize);
    if (image.Lowest() < base || image.End() > base + regionSize)
        return std::nullopt;
    return base;
}

namespace {

// A command's buffer is shown nowhere, so nothing tracks its changes.
class TNoTracking final : public TChangeTracking {
    void Clear() override {}
    void UpdateChanges() override {}
};

} // namespace

void PlaceCommandFile(const std::string& name, std::span<const std::uint8_t> bytes, const TImage* image,
                      std::optional<std::uint64_t> base, bool pad, const std::string& regionName,
                      std::span<std::uint8_t> buffer, TLogSink& log)
{
    if (image != nullptr && !base) {
        const auto size = static_cast<std::uint32_t>(buffer.size());
        base = ImplicitImageBase(*image, size);
        if (!base)
            throw TPlacementError(Format("%s holds addresses 0x%08llX-0x%08llX; region '%s' holds 0x%X bytes: give "
                                         "the address of its first byte with --base",
                                         name.c_str(), static_cast<unsigned long long>(image->Lowest()),
                                         static_cast<unsigned long long>(image->End() - 1), regionName.c_str(), size),
                                  true);
        if (*base != 0)
            log.AddLogLine(Format("base 0x%08llX (from the image)", static_cast<unsigned long long>(*base)));
    }
    const std::uint64_t at = base.value_or(0);
    TNoTracking noTracking;
    try {
        PlaceFileInRegion(name, bytes, image, at, pad, buffer, noTracking, log);
    } catch (const TImageError& error) {
        throw TPlacementError(
            name + ": " + error.what() +
                Format(" (base 0x%llX, region size 0x%zX)", static_cast<unsigned long long>(at), buffer.size()),
            false);
    } catch (const TFileError& error) {
        throw TPlacementError(std::string(error.what()) + "; " +
                                  (bytes.size() < buffer.size() ? "--pad fills a shorter file with 0xFF"
                                                                : "a file longer than the region cannot be written"),
                              false);
    }
}

} // namespace lindprog
