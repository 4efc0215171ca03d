#pragma once
// Small helpers shared by the link tests: a scratch folder per test, a bare
// pseudo-terminal, and LINDPROG_COM<N> pointed at a path for one test.

#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace lindprog::test {

class TScratchDir {
public:
    TScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "lindprog-test-XXXXXX").string();
        Path = ::mkdtemp(pattern.data());
    }
    ~TScratchDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::filesystem::path Path;
};

class TEnvPort {
public:
    TEnvPort(int number, const std::string& path) : Name("LINDPROG_COM" + std::to_string(number))
    {
        ::setenv(Name.c_str(), path.c_str(), 1);
    }
    ~TEnvPort() { ::unsetenv(Name.c_str()); }

private:
    std::string Name;
};

// A pseudo-terminal whose master the test holds; the slave is what TCom opens.
class TBarePty {
public:
    TBarePty()
    {
        Master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(Master);
        ::unlockpt(Master);
        SlavePath = ::ptsname(Master);
        // Keep the line raw from the start so nothing is echoed back.
        const int slave = ::open(SlavePath.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        ::tcgetattr(slave, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(slave, TCSANOW, &settings);
        ::close(slave);
    }
    ~TBarePty() { CloseMaster(); }
    void CloseMaster()
    {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }
    int Master = -1;
    std::string SlavePath;
};

} // namespace lindprog::test
