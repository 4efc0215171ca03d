// File access on POSIX: open(2) without blocking, a side file renamed over
// the target after fsync.

#include "core/buffer/FileAccess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <random>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lindprog {

namespace {

namespace fs = std::filesystem;

std::string ErrnoText(int error)
{
    return std::error_code(error, std::generic_category()).message();
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

// The new contents while they are written: a file of its own beside the target,
// removed again unless Commit has renamed it over the target.
class TReplacement {
public:
    explicit TReplacement(fs::path target) : Target(std::move(target)) {}
    ~TReplacement()
    {
        File.Reset();
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
            File.Reset(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (File.Valid()) {
                Temporary = name;
                KeepPermissions();
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int Write(std::span<const std::uint8_t> bytes) { return WriteAll(File.Get(), bytes); }

    // Puts the new file on the disk and in the target's place; 0 or the error.
    int Commit()
    {
        if (::fsync(File.Get()) != 0)
            return errno;
        // A failed close can be the first report of a failed write.
        if (!File.Close())
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
            (void)::fchmod(File.Get(), old.st_mode & 07777);
    }

    fs::path Target;
    fs::path Temporary;
    TUniqueFd File;
};

// Why a file of this type is not read, or null for a regular file: only a
// regular file has an end that a read is sure to reach.
const char* RefusedType(const struct stat& info)
{
    if (S_ISDIR(info.st_mode))
        return "Is a directory";
    return S_ISREG(info.st_mode) ? nullptr : "Not a regular file";
}

// Whether the side file failed only because the folder is closed to the user,
// while the target itself may still be open to them.
bool FolderRefused(int error)
{
    return error == EACCES || error == EPERM || error == EROFS;
}

// An existing regular file written where it stands.
class TPosixFileInPlace : public TFileInPlace {
public:
    explicit TPosixFileInPlace(TUniqueFd file) : File(std::move(file)) {}

    unsigned long Reserve(std::uint64_t size) override
    {
        // Answers the error itself rather than through errno.
        return size == 0 ? 0 : static_cast<unsigned long>(::posix_fallocate(File.Get(), 0, static_cast<off_t>(size)));
    }
    unsigned long WriteFromStart(std::span<const std::uint8_t> bytes) override
    {
        if (::lseek(File.Get(), 0, SEEK_SET) != 0)
            return static_cast<unsigned long>(errno);
        return static_cast<unsigned long>(WriteAll(File.Get(), bytes));
    }
    unsigned long CutAt(std::uint64_t size) override
    {
        return ::ftruncate(File.Get(), static_cast<off_t>(size)) == 0 ? 0 : static_cast<unsigned long>(errno);
    }
    // Once fsync has succeeded, close has nothing left to report.
    unsigned long Flush() override { return ::fsync(File.Get()) == 0 ? 0 : static_cast<unsigned long>(errno); }

private:
    TUniqueFd File;
};

// Rewrites an existing regular file where it stands. Nothing when it cannot
// be opened so (absent, not writable, no regular file); else 0 or the error.
std::optional<int> RewriteExisting(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    // O_NONBLOCK: a FIFO in the target's place must not hang the save.
    TUniqueFd file(::open(target.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file.Valid() || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    TPosixFileInPlace inPlace(std::move(file));
    return static_cast<int>(RewriteInPlace(inPlace, bytes));
}

int Replace(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    TReplacement replacement(target);
    if (const int error = replacement.Create()) {
        // A folder closed to the user may hold a file open to them; that file
        // is written in place, without the side file's protection, rather
        // than not at all.
        const std::optional<int> inPlace = FolderRefused(error) ? RewriteExisting(target, bytes) : std::nullopt;
        return inPlace ? *inPlace : error;
    }
    if (const int error = replacement.Write(bytes))
        return error;
    return replacement.Commit();
}

} // namespace

TFileReader::TFileReader(const std::string& name)
{
    // The type is asked before the open: opening a FIFO waits for a writer,
    // and a device may wait for its hardware.
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        Reason = ErrnoText(errno);
        return;
    }
    if (const char* refused = RefusedType(info)) {
        Reason = refused;
        return;
    }
    // Still without blocking, and asked again once open: a FIFO put in the
    // file's place after the check is refused, not waited on.
    TUniqueFd file(::open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.Valid() || ::fstat(file.Get(), &info) != 0) {
        Reason = ErrnoText(errno);
        return;
    }
    if (const char* refused = RefusedType(info)) {
        Reason = refused;
        return;
    }
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        Reason = ErrnoText(errno);
        return;
    }
    FileSize = static_cast<std::uint64_t>(info.st_size);
    File = std::move(file);
}

std::optional<std::size_t> TFileReader::ReadUpTo(std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const ssize_t got = ::read(File.Get(), buffer.data() + done, buffer.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            Reason = ErrnoText(errno);
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool MayFollowLink(const fs::path& link)
{
    // The kernel's protected_symlinks rule, kept also where it is switched
    // off and where root, who ignores it, saves.
    struct stat linkInfo {};
    struct stat folder {};
    if (::lstat(link.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode))
        return true;
    const fs::path parent = link.has_parent_path() ? link.parent_path() : fs::path(".");
    if (::stat(parent.c_str(), &folder) != 0)
        return false;
    const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
    return !shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == folder.st_uid;
}

std::string ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    IgnoreFileSizeSignal();
    const int error = Replace(target, bytes);
    return error == 0 ? std::string() : ErrnoText(error);
}

} // namespace lindprog
