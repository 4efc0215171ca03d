// File access on Windows: CreateFileW on disk files only, a side file moved
// over the target after FlushFileBuffers.

#include "core/base/Win32Error.h"
#include "core/buffer/FileAccess.h"

#include <algorithm>
#include <cstdio>
#include <random>
#include <utility>

#include <windows.h>

namespace lindprog {

namespace {

namespace fs = std::filesystem;

// Reads and writes go in pieces a DWORD can count.
constexpr std::size_t MaxTransfer = 1u << 30;

// Writes every byte or gives the error that stopped it (0 when all went).
DWORD WriteAll(HANDLE file, std::span<const std::uint8_t> bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const auto piece = static_cast<DWORD>(std::min(bytes.size() - done, MaxTransfer));
        DWORD put = 0;
        if (!::WriteFile(file, bytes.data() + done, piece, &put, nullptr))
            return ::GetLastError();
        if (put == 0)
            return ERROR_WRITE_FAULT;
        done += put;
    }
    return 0;
}

// The new contents while they are written: a file of its own beside the
// target, removed again unless Commit has moved it over the target.
class TReplacement {
public:
    explicit TReplacement(fs::path target) : Target(std::move(target)) {}
    ~TReplacement()
    {
        File.Reset();
        if (!Temporary.empty())
            ::DeleteFileW(Temporary.c_str());
    }
    TReplacement(const TReplacement&) = delete;
    TReplacement& operator=(const TReplacement&) = delete;

    // Creates the new file; 0 or the error.
    DWORD Create()
    {
        constexpr int Attempts = 16;
        std::random_device random;
        for (int attempt = 0; attempt < Attempts; ++attempt) {
            const fs::path name = TemporaryName(random());
            File.Reset(
                ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (File.Valid()) {
                Temporary = name;
                return 0;
            }
            if (const DWORD error = ::GetLastError(); error != ERROR_FILE_EXISTS)
                return error;
        }
        return ERROR_FILE_EXISTS;
    }

    DWORD Write(std::span<const std::uint8_t> bytes) { return WriteAll(File.Get(), bytes); }

    // Puts the new file on the disk and in the target's place; 0 or the error.
    DWORD Commit()
    {
        if (!::FlushFileBuffers(File.Get()))
            return ::GetLastError();
        if (!File.Close())
            return ::GetLastError();
        // The move is written through, so the new name is on the disk before
        // the save counts as done.
        if (!::MoveFileExW(Temporary.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return ::GetLastError();
        Temporary.clear();
        return 0;
    }

private:
    fs::path TemporaryName(unsigned salt) const
    {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08X.tmp", salt);
        const std::wstring base = Target.filename().wstring().substr(0, 64);
        return Target.parent_path() / (L"." + base + fs::path(suffix).wstring());
    }

    fs::path Target;
    fs::path Temporary;
    TUniqueHandle File;
};

// An existing disk file written where it stands.
class TWin32FileInPlace : public TFileInPlace {
public:
    explicit TWin32FileInPlace(TUniqueHandle file) : File(std::move(file)) {}

    unsigned long Reserve(std::uint64_t size) override
    {
        // Setting the end past the old one allocates the room and keeps
        // every old byte; a smaller file already has it.
        LARGE_INTEGER current{};
        if (!::GetFileSizeEx(File.Get(), &current))
            return ::GetLastError();
        if (size <= static_cast<std::uint64_t>(current.QuadPart))
            return 0;
        return CutAt(size);
    }
    unsigned long WriteFromStart(std::span<const std::uint8_t> bytes) override
    {
        if (!::SetFilePointerEx(File.Get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN))
            return ::GetLastError();
        return WriteAll(File.Get(), bytes);
    }
    unsigned long CutAt(std::uint64_t size) override
    {
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(size);
        if (!::SetFilePointerEx(File.Get(), end, nullptr, FILE_BEGIN) || !::SetEndOfFile(File.Get()))
            return ::GetLastError();
        return 0;
    }
    unsigned long Flush() override { return ::FlushFileBuffers(File.Get()) ? 0 : ::GetLastError(); }

private:
    TUniqueHandle File;
};

// Rewrites an existing disk file where it stands. Nothing when it cannot be
// opened so (absent, not writable, no disk file); else 0 or the error.
std::optional<DWORD> RewriteExisting(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    TUniqueHandle file(
        ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        return std::nullopt;
    TWin32FileInPlace inPlace(std::move(file));
    return static_cast<DWORD>(RewriteInPlace(inPlace, bytes));
}

DWORD Replace(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    TReplacement replacement(target);
    if (const DWORD error = replacement.Create()) {
        // A folder closed to the user may hold a file open to them; that file
        // is written in place, without the side file's protection, rather
        // than not at all.
        const std::optional<DWORD> inPlace =
            error == ERROR_ACCESS_DENIED ? RewriteExisting(target, bytes) : std::nullopt;
        return inPlace ? *inPlace : error;
    }
    if (const DWORD error = replacement.Write(bytes))
        return error;
    return replacement.Commit();
}

} // namespace

TFileReader::TFileReader(const std::string& name)
{
    const fs::path path(name);
    // A folder does not open as a file at all; say so as POSIX would.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Reason = Win32ErrorText(::GetLastError());
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        Reason = "Is a directory";
        return;
    }
    // Others may go on reading and writing it, as on POSIX.
    TUniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        Reason = Win32ErrorText(::GetLastError());
        return;
    }
    // Consoles, pipes and ports open as files too; only a disk file has an
    // end that a read reaches.
    LARGE_INTEGER size{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileSizeEx(file.Get(), &size)) {
        Reason = "Not a regular file";
        return;
    }
    FileSize = static_cast<std::uint64_t>(size.QuadPart);
    File = std::move(file);
}

std::optional<std::size_t> TFileReader::ReadUpTo(std::span<std::uint8_t> buffer)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const auto piece = static_cast<DWORD>(std::min(buffer.size() - done, MaxTransfer));
        DWORD got = 0;
        if (!::ReadFile(File.Get(), buffer.data() + done, piece, &got, nullptr)) {
            Reason = Win32ErrorText(::GetLastError());
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

bool MayFollowLink(const fs::path&)
{
    return true;
}

std::string ReplaceFileContents(const fs::path& target, std::span<const std::uint8_t> bytes)
{
    const DWORD error = Replace(target, bytes);
    return error == 0 ? std::string() : Win32ErrorText(error);
}

} // namespace lindprog
