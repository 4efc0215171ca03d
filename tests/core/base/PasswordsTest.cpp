// Passwords inside URIs never reach what a person reads or a log keeps.

#include "core/base/Passwords.h"

#include <gtest/gtest.h>

namespace lindprog {
namespace {

TEST(Passwords, EveryUriInATextLosesItsPasswordAndNothingElse)
{
    const std::pair<const char*, const char*> cases[] = {
        {"unit database: postgresql://line:s3cret@db:5433/units: server closed the connection",
         "unit database: postgresql://line@db:5433/units: server closed the connection"},
        {R"({"event":"error","text":"cannot open ftp://me:pw@host/fw.hex"})",
         R"({"event":"error","text":"cannot open ftp://me@host/fw.hex"})"},
        {"'postgres://a:p@ss/w@db/u?password=x&sslmode=require' and http://b:c@web/",
         "'postgres://a@db/u?sslmode=require' and http://b@web/"},
        {"postgresql:///units?sslmode=disable&password=s3cret", "postgresql:///units?sslmode=disable"},
        {"postgresql://line@db/units, port COM3, http://host:8080/path",
         "postgresql://line@db/units, port COM3, http://host:8080/path"},
        {"no place here: a://, ://x:y@z, user:pw@host", "no place here: a://, ://x:y@z, user:pw@host"},
        {"Cannot open file \"/tmp/ftp:/me:s3cret@host/fw.hex\".", "Cannot open file \"/tmp/ftp:/me@host/fw.hex\"."},
        {"C:/Firmware/fw.hex COM3:/dev/ttyS0 Error: x:y@z", "C:/Firmware/fw.hex COM3:/dev/ttyS0 Error: x:y@z"},
        {"", ""},
    };
    for (const auto& [text, shown] : cases)
        EXPECT_EQ(WithoutPasswords(text), shown) << text;
}

} // namespace
} // namespace lindprog
