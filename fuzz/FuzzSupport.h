#pragma once
// What the fuzz targets share: a check that ends the run on a broken rule, so
// that libFuzzer keeps the input that broke it, and a file made from the input
// for the readers that only take a path.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace lindprog::fuzz {

inline void Expect(bool holds, const char* rule)
{
    if (holds)
        return;
    std::fprintf(stderr, "broken rule: %s\n", rule);
    std::abort();
}

// The bytes as a file in memory: a disk would slow every run and fill up with
// the inputs of a crashed one.
class TMemoryFile {
public:
    explicit TMemoryFile(std::span<const std::uint8_t> bytes) : Fd(::memfd_create("lindprog-fuzz", MFD_CLOEXEC))
    {
        Expect(Fd >= 0, "memfd_create works");
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t part = ::write(Fd, bytes.data() + done, bytes.size() - done);
            Expect(part > 0, "the input goes into the memory file");
            done += static_cast<std::size_t>(part);
        }
        FilePath = "/proc/self/fd/" + std::to_string(Fd);
    }
    ~TMemoryFile() { ::close(Fd); }
    TMemoryFile(const TMemoryFile&) = delete;
    TMemoryFile& operator=(const TMemoryFile&) = delete;

    const std::string& Path() const { return FilePath; }

private:
    int Fd;
    std::string FilePath;
};

} // namespace lindprog::fuzz
