#pragma once
// Loading the buffer from a raw binary file and saving it into one: the file
// holds the buffer's bytes one to one from offset 0, nothing else. Loading never
// changes the buffer's size; a file of another size is loaded only after the
// user agrees, cut or filled up with zeros. Both end by accepting the buffer's
// contents as the view's reference, so nothing shows as changed afterwards.
//
// A file that cannot be opened or saved is not reported here: TFileError
// escapes to the application-wide handler, which shows its text. The log then
// holds only the first line of the command and nothing else has changed.

#include "core/base/Prompts.h"
#include "core/buffer/ImageFile.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace lindprog {

class TFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the file commands need of the hex view: its change tracking. The view
// shows the buffer in place, so Clear sets the buffer's own bytes to 0x00.
class TChangeTracking {
public:
    virtual ~TChangeTracking() = default;
    // Every byte 0x00, accepted as the reference.
    virtual void Clear() = 0;
    // The current bytes become the reference.
    virtual void UpdateChanges() = 0;
};

inline constexpr const char* FileSizeQuestion = "File size is not equal to buffer size. Continue?";

// The path as the messages name it: absolute, without "." and ".." parts.
std::string FullPath(const std::string& path);

// Loads `path` into `buffer`. Logs "Opening file [...]...", asks the size
// question (a warning) when the sizes differ, then clears the view, reads at
// most buffer.size() bytes, logs the count and the CRC of the whole buffer and
// accepts. Returns false when the user declined: then nothing but the first
// log line has happened. Throws TFileError when the file can't be opened.
bool LoadBufferFile(const std::string& path, std::span<std::uint8_t> buffer, TChangeTracking& view, TLogSink& log,
                    TPrompts& prompts);

// Saves `buffer` into `path`: logs "Saving file [...]...", writes, logs
// "Saved %d bytes" and accepts. The bytes go into a new file beside the target
// that replaces it only once every byte is written and on the disk, so a save
// that fails (no space, no permission, a vanished folder) leaves the old file
// as it was; it throws TFileError, logs no "Saved" line and accepts nothing.
// Where the folder takes no new file but the target exists and may be
// written, the target is rewritten in place instead; a failure then still
// throws, but the old contents are lost. Returns the number of bytes written.
std::size_t SaveBufferFile(const std::string& path, std::span<const std::uint8_t> buffer, TChangeTracking& view,
                           TLogSink& log);

// Writes `bytes` as the whole new contents of `path`, as SaveBufferFile does
// (a side file renamed over the target, or the target rewritten in place where
// only its folder is closed). Throws TFileError ("Cannot create file ...").
void WriteFileContents(const std::string& path, std::span<const std::uint8_t> bytes);

// Saves the buffer in the format the file name's extension asks for: Intel
// HEX or S-record with the buffer's first byte at `base`, else the raw bytes
// (base unused). Logs and accepts as SaveBufferFile does; throws TFileError,
// and TImageError when the buffer at base reaches past what the format holds.
std::size_t SaveImageFile(const std::string& path, std::span<const std::uint8_t> buffer, std::uint64_t base,
                          TChangeTracking& view, TLogSink& log);

// The whole file, the one way both front ends read a file before they know
// the region it is for. Only a regular file is read, to its end whatever size
// the file system reports, and never more than `limit` bytes and one to tell
// that it holds more. Throws TFileError: "Cannot open file ..." for a file
// that can't be opened or is no regular file, "Cannot read file ..." for a
// failed read or a file of more than `limit` bytes.
std::vector<std::uint8_t> ReadWholeFile(const std::string& path, std::size_t limit = MaxRegionBytes);

// "Loaded 1234 bytes in 2 segments [08000000-080004D1], CRC32 = 1A2B3C4D": the
// image's bytes, its range, and the CRC of the whole buffer as the raw load
// logs it.
std::string ImageLoadedLine(const TImage& image, std::span<const std::uint8_t> buffer);

// Logs "Opening file [...]...", places the image at `base` (TImageError leaves
// the buffer as it was), logs ImageLoadedLine and accepts the buffer.
void LoadImageIntoBuffer(const std::string& path, const TImage& image, std::uint64_t base,
                         std::span<std::uint8_t> buffer, TChangeTracking& view, TLogSink& log);

// Fills a region's buffer from a file read with ReadWholeFile, as the command
// line takes it: `image` (the file's bytes parsed, when they are HEX,
// S-record or ELF) as LoadImageIntoBuffer places it at `base`; raw bytes one
// to one from the region's start. Raw bytes must be exactly the region's
// size, or with `pad` shorter, the rest 0xFF like erased flash: a programmer
// writes every byte of the region, so it must know each one. Raw bytes log
// "Opening file [...]..." and "Loaded %zu bytes, CRC32 = %.08X" with the CRC
// of the whole region. A file that does not fit throws before the buffer
// changes: TFileError ("<path> holds 10 bytes, the region 16") for raw bytes,
// then nothing is logged; TImageError for an image.
void PlaceFileInRegion(const std::string& path, std::span<const std::uint8_t> bytes, const TImage* image,
                       std::uint64_t base, bool pad, std::span<std::uint8_t> buffer, TChangeTracking& view,
                       TLogSink& log);

// The file of a command (write, verify, program, compare), read once before
// any adapter is touched: its bytes, and the image they hold when they are
// HEX, S-record or ELF. Throws TFileError, naming the path also when the
// image is bad ("fw.hex: line 3: bad checksum").
struct TCommandFile {
    std::vector<std::uint8_t> Bytes;
    std::optional<TImage> Image;
};
TCommandFile ReadCommandFile(const std::string& path);

// The base of an image given without one: 0 when the image fits the region
// there, else its lowest address rounded down to a multiple of the region's
// size when the whole image fits from there; nothing when neither holds, for
// then any base would be a guess.
std::optional<std::uint64_t> ImplicitImageBase(const TImage& image, std::uint32_t regionSize);

// Why a command's file does not go into its region. Usage: the caller must
// say more (the base), rather than the file being at fault.
class TPlacementError : public std::runtime_error {
public:
    TPlacementError(const std::string& text, bool usage) : std::runtime_error(text), Usage(usage) {}
    bool Usage;
};

// A command's file in the region's buffer, as the command line and the
// Python module place it: an image at `base`, or without one at
// ImplicitImageBase (a base other than 0 is logged); raw bytes as
// PlaceFileInRegion takes them. Throws TPlacementError, its text naming the
// file, the base and the region's size.
void PlaceCommandFile(const std::string& name, std::span<const std::uint8_t> bytes, const TImage* image,
                      std::optional<std::uint64_t> base, bool pad, const std::string& regionName,
                      std::span<std::uint8_t> buffer, TLogSink& log);

} // namespace lindprog
