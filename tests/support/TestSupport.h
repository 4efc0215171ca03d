#pragma once
// Small helpers every suite shares: a scratch folder per test, LINDPROG_COM<N>
// pointed at a path for one test, and a bare pseudo-terminal (not on Windows).

#include "core/link/PortNames.h"

#include <cerrno>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include <stdlib.h>
#ifndef _WIN32
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace lindprog::test {

// A fresh folder of its own, removed with everything in it at the end.
class TScratchDir {
public:
    TScratchDir()
    {
#ifdef _WIN32
        // No mkdtemp: a random name, taken only if nobody has it yet.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && Path.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path() / ("lindprog-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate))
                Path = candidate;
        }
        if (Path.empty())
            throw std::system_error(EEXIST, std::generic_category(), "cannot make a scratch folder");
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "lindprog-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "cannot make a scratch folder");
        Path = pattern;
#endif
    }
    ~TScratchDir()
    {
        // A test may have taken the write permission away to provoke an error.
        std::error_code ignored;
        std::filesystem::permissions(Path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                     ignored);
        std::filesystem::remove_all(Path, ignored);
    }
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    std::filesystem::path Path;
};

// COM<number> mapped to `path` while it lives.
class TEnvPort {
public:
    TEnvPort(int number, const std::string& path) : Name("LINDPROG_COM" + std::to_string(number))
    {
        Set(Name, path.c_str());
    }
    ~TEnvPort() { Unset(Name); }
    TEnvPort(const TEnvPort&) = delete;
    TEnvPort& operator=(const TEnvPort&) = delete;

    // Leaves out every LINDPROG_COM<N> the caller's shell may have set.
    static void ClearAll()
    {
        for (const auto& port : TPortNames::EnvironmentPorts())
            Unset(port.Key);
    }

private:
#ifdef _WIN32
    // An empty value removes the variable.
    static void Set(const std::string& name, const char* value)
    {
        ::_putenv_s(name.c_str(), value);
    }
    static void Unset(const std::string& name)
    {
        ::_putenv_s(name.c_str(), "");
    }
#else
    static void Set(const std::string& name, const char* value)
    {
        ::setenv(name.c_str(), value, 1);
    }
    static void Unset(const std::string& name)
    {
        ::unsetenv(name.c_str());
    }
#endif

    std::string Name;
};

#ifndef _WIN32

// A pseudo-terminal whose master the test holds; the slave is what TCom opens.
class TBarePty {
public:
    TBarePty()
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (Master < 0 || ::grantpt(Master) != 0 || ::unlockpt(Master) != 0) {
            const int error = errno;
            CloseMaster();
            throw std::system_error(error, std::generic_category(), "cannot open a pseudo-terminal");
        }
        SlavePath = ::ptsname(Master);
        // Keep the line raw from the start so nothing is echoed back.
        const int slave = ::open(SlavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::close(slave);
    }
    ~TBarePty() { CloseMaster(); }
    TBarePty(const TBarePty&) = delete;
    TBarePty& operator=(const TBarePty&) = delete;

    void CloseMaster()
    {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }

    int Master = -1;
    std::string SlavePath;
};
#endif

} // namespace lindprog::test
