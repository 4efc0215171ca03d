#pragma once
// The system's side of the buffer's file commands: reading a regular file and
// replacing a file's contents safely. BufferFile words the messages; this unit
// only says why something failed, with the POSIX wording on both systems
// where the failure is a common one ("No such file or directory").
// One implementation per system: FileAccessPosix.cpp, FileAccessWin32.cpp.

#include "core/base/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace lindprog {

// A regular file open for reading. Nothing else is taken: a FIFO or a device
// in the file's place would wait for a writer or for hardware for ever.
class TFileReader {
public:
    explicit TFileReader(const std::string& name);

    bool IsOpen() const { return File.Valid(); }
    // Why the open, or the last read, failed.
    const std::string& Failure() const { return Reason; }
    std::uint64_t Size() const { return FileSize; }
    // Reads until the buffer is full or the file ends and gives the count;
    // nothing when a read failed: half a file is no file.
    std::optional<std::size_t> ReadUpTo(std::span<std::uint8_t> buffer);
    void Close() { File.Reset(); }

private:
    TUniqueFile File;
    std::uint64_t FileSize = 0;
    std::string Reason;
};

// Makes `bytes` the whole contents of the regular file `target` (a link
// already resolved). They go into a new file beside it that replaces it only
// once every byte is written and on the disk, so a failure leaves the old file
// as it was. Where the folder takes no new file but the target exists and may
// be written, the target is rewritten in place instead (RewriteInPlace).
// Returns "" on success, else why it failed.
std::string ReplaceFileContents(const std::filesystem::path& target, std::span<const std::uint8_t> bytes);

// Whether a save may write through the symbolic link `link`: not where
// another user planted it in a sticky folder that everyone may write to, as
// the target would then be the planter's choice, not the user's. Windows has
// no such folders.
bool MayFollowLink(const std::filesystem::path& link);

// An existing file open for writing where it stands, one implementation per
// system. Each step answers 0 or the system's error code.
class TFileInPlace {
public:
    virtual ~TFileInPlace() = default;
    // Makes the file take at least `size` bytes on the disk without changing
    // a byte of what it holds; fails on a full disk or a file size limit.
    virtual unsigned long Reserve(std::uint64_t size) = 0;
    virtual unsigned long WriteFromStart(std::span<const std::uint8_t> bytes) = 0;
    virtual unsigned long CutAt(std::uint64_t size) = 0;
    virtual unsigned long Flush() = 0;
};

// Rewrites the file with `bytes`. The old contents are touched only once the
// room for the new ones is held, so a full disk or a size limit fails the save
// with the old file whole; it is cut to the new length last. 0 or the error.
unsigned long RewriteInPlace(TFileInPlace& file, std::span<const std::uint8_t> bytes);

} // namespace lindprog
