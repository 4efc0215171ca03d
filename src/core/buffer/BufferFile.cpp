#include "core/buffer/BufferFile.h"

#include "core/base/Stm32Crc.h"
#include "core/base/UniqueFd.h"
#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lindprog {
namespace {

namespace fs = std::filesystem;

std::string Reason(int error)
{
    return std::error_code(error, std::generic_category()).message();
}

[[noreturn]] void CannotOpen(const std::string& name, int error)
{
    throw TFileError("Cannot open file \"" + name + "\". " + Reason(error));
}

[[noreturn]] void CannotCreate(const std::string& name, int error)
{
    throw TFileError("Cannot create file \"" + name + "\". " + Reason(error));
}

[[noreturn]] void CannotRead(const std::string& name, int error)
{
    throw TFileError("Cannot read file \"" + name + "\". " + Reason(error));
}

// Opens a regular file for reading and gives its size. The open does not
// block: a FIFO or a device in the file's place would wait for a writer or
// for hardware for ever, so only regular files are taken.
TUniqueFd OpenForReading(const std::string& name, std::uint64_t& size)
{
    TUniqueFd file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.Valid())
        CannotOpen(name, errno);
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0)
        CannotOpen(name, errno);
    if (S_ISDIR(info.st_mode))
        CannotOpen(name, EISDIR);
    if (!S_ISREG(info.st_mode))
        throw TFileError("Cannot open file \"" + name + "\". Not a regular file");
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        CannotOpen(name, errno);
    size = static_cast<std::uint64_t>(info.st_size);
    return file;
}

// Reads until the buffer is full or the file ends; the count tells what
// arrived. A failed read throws: half a file is no file.
std::size_t ReadUpTo(int fd, std::span<std::uint8_t> buffer, const std::string& name)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            CannotRead(name, errno);
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

// A write past the file size limit raises SIGXFSZ, whose default ends the
// program with the user's unsaved buffer. Ignored, the write fails with
// EFBIG and the save reports "File too large" like any other failure.
void IgnoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

// Writes every byte or gives the error that stopped it (0 when all went).
int WriteAll(int fd, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put < 0)
            return errno;
        if (put == 0)
            return EIO;
        done += static_cast<std::size_t>(put);
    }
    return 0;
}

// A link is replaced through: the file it points at gets the new contents and
// the link stays a link.
fs::path ReplacedFile(const fs::path& target)
{
    std::error_code error;
    if (!fs::is_symlink(target, error))
        return target;
    fs::path real = fs::weakly_canonical(target, error);
    return error ? target : real;
}

// The new contents while they are written: a file of its own beside the target,
// removed again unless Commit has renamed it over the target.
class TReplacement {
public:
    explicit TReplacement(fs::path target) : Target(std::move(target)) {}
    ~TReplacement()
    {
        if (Fd >= 0)
            ::close(Fd);
        if (!Temporary.empty())
            ::unlink(Temporary.c_str());
    }
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    // Creates the new file; 0 or the error.
    int Create()
    {
        // Created as a plain create would be (0666 less the umask); a file
        // that is replaced keeps its permission bits.
        constexpr int Attempts = 16;
        std::random_device random;
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            const fs::path name = TemporaryName(random());
            Fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (Fd >= 0) {
                Temporary = name;
                KeepPermissions();
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int Write(std::span<const std::uint8_t> bytes) { return WriteAll(Fd, bytes); }

    // Puts the new file on the disk and in the target's place; 0 or the error.
    int Commit()
    {
        if (::fsync(Fd) != 0)
            return errno;
        // A failed close can be the first report of a failed write.
        if (::close(std::exchange(Fd, -1)) != 0)
            return errno;
        if (::rename(Temporary.c_str(), Target.c_str()) != 0)
            return errno;
        Temporary.clear();
        return 0;
    }

private:
    fs::path TemporaryName(unsigned salt) const
    {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08X.tmp", salt);
        // Short enough for any file system's name limit, named after the target.
        const std::string base = Target.filename().string().substr(0, 64);
        return Target.parent_path() / ("." + base + suffix);
    }

    void KeepPermissions()
    {
        struct stat old {};
        // Best effort: the contents matter more than the mode bits.
        if (::stat(Target.c_str(), &old) == 0 && S_ISREG(old.st_mode))
            (void)::fchmod(Fd, old.st_mode & 07777);
    }

    fs::path Target;
    fs::path Temporary;
    int Fd = -1;
};

// Whether the side file failed only because the folder is closed to the user,
// while the target itself may still be open to them.
bool FolderRefused(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// Writes an existing regular file where it stands: opened without creating,
// emptied, written whole, put on the disk. Nothing when it cannot be opened
// so (absent, not writable, no regular file); else 0 or the error.
std::optional<int> RewriteInPlace(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    // O_NONBLOCK: a FIFO in the target's place must not hang the save.
    const TUniqueFd file(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.Valid() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    if (::ftruncate(file.Get(), 0) != 0)
        return errno;
    if (const int error = WriteAll(file.Get(), bytes))
        return error;
    // Once fsync has succeeded, close has nothing left to report.
    if (::fsync(file.Get()) != 0)
        return errno;
    return 0;
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
    std::uint64_t fileSize = 0;
    TUniqueFd file = OpenForReading(name, fileSize);
    const bool agreed = fileSize == buffer.size() || prompts.AskWarning(FileSizeQuestion) == TAnswer::Yes;
    if (!agreed)
        return false;
    // Read aside first: a read that fails must leave the buffer as it was.
    std::vector<std::uint8_t> contents(buffer.size());
    const std::size_t bytesRead = ReadUpTo(file.Get(), contents, name);
    file.Reset();
    view.Clear();
    std::copy_n(contents.begin(), bytesRead, buffer.begin());
    // The CRC covers the whole buffer, the zeros after a short file included.
    log.AddLogLine(LoadedLine(bytesRead, CrcUpdateBytes(CrcStart, buffer)));
    view.UpdateChanges();
    return true;
}

void WriteFileContents(const std::string& path, std::span<const std::uint8_t> bytes)
{
    IgnoreFileSizeSignal();
    const std::string name = FullPath(path);
    const fs::path target = ReplacedFile(name);
    TReplacement replacement(target);
    if (const int error = replacement.Create()) {
        // A folder closed to the user may hold a file open to them; that file
        // is written in place, without the side file's protection, rather
        // than not at all.
        const std::optional<int> inPlace = FolderRefused(error) ? RewriteInPlace(target, bytes) : std::nullopt;
        if (!inPlace)
            CannotCreate(name, error);
        if (*inPlace != 0)
            CannotCreate(name, *inPlace);
        return;
    }
    if (const int writeError = replacement.Write(bytes))
        CannotCreate(name, writeError);
    if (const int commitError = replacement.Commit())
        CannotCreate(name, commitError);
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

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    const std::string name = FullPath(path);
    std::uint64_t size = 0;
    const TUniqueFd file = OpenForReading(name, size);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    bytes.resize(ReadUpTo(file.Get(), bytes, name));
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

} // namespace lindprog
