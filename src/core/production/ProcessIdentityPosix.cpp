#include "core/production/ProcessIdentity.h"

#include <fstream>
#include <sstream>

#include <unistd.h>

namespace lindprog {

namespace {

std::string BootId()
{
    std::ifstream file("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(file, id);
    return id;
}

struct TStat {
    bool Found = false;
    char State = '?';
    std::string Start;
};

// /proc/<pid>/stat: the name in parentheses may hold spaces and ')', so the
// fields are counted from the last ')'. State is field 3, the start time
// (clock ticks since boot) field 22.
TStat ReadStat(std::int64_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    TStat stat;
    if (close == std::string::npos)
        return stat;
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    for (int number = 3; number <= 22 && fields >> field; ++number) {
        if (number == 3)
            stat.State = field.empty() ? '?' : field[0];
        if (number == 22) {
            stat.Start = field;
            stat.Found = true;
        }
    }
    return stat;
}

} // namespace

TProcessIdentity TProcessIdentity::Current()
{
    TProcessIdentity identity;
    identity.Pid = ::getpid();
    identity.Start = ReadStat(identity.Pid).Start;
    identity.Boot = BootId();
    return identity;
}

bool TProcessIdentity::Alive() const
{
    if (Boot != BootId())
        return false;
    const TStat stat = ReadStat(Pid);
    return stat.Found && stat.Start == Start && stat.State != 'Z' && stat.State != 'X';
}

} // namespace lindprog
