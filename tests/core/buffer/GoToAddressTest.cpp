#include "core/buffer/GoToAddress.h"

#include <gtest/gtest.h>

namespace lindprog {
namespace {

TEST(GoToAddress, OffsetsAndTargetAddressesInsideTheBufferOnly)
{
    constexpr std::uint64_t Base = 0x08000000;
    constexpr std::uint32_t Size = 0x80000;
    struct TCase {
        std::string Text;
        TAddressKind Kind;
        std::uint32_t Size;
        std::uint32_t Offset;
        std::string Error;
    };
    const std::string notANumber = "Type the address in hex (1F00 or 0x1F00), or # and a decimal number (#7936).";
    const TCase cases[] = {
        {"1F00", TAddressKind::Offset, Size, 0x1F00, ""},
        {" 0x1f00 ", TAddressKind::Offset, Size, 0x1F00, ""},
        {"#7936", TAddressKind::Offset, Size, 0x1F00, ""},
        {"7FFFF", TAddressKind::Offset, Size, 0x7FFFF, ""},
        {"80000", TAddressKind::Offset, Size, 0, "Offset 0x80000 lies outside the buffer (0x0..0x7FFFF)."},
        {"0x08001F00", TAddressKind::Target, Size, 0x1F00, ""},
        {"807FFFF", TAddressKind::Target, Size, 0x7FFFF, ""},
        {"7FFFFFF", TAddressKind::Target, Size, 0, "Address 0x7FFFFFF lies outside the region (0x8000000..0x807FFFF)."},
        {"8080000", TAddressKind::Target, Size, 0, "Address 0x8080000 lies outside the region (0x8000000..0x807FFFF)."},
        {"", TAddressKind::Offset, Size, 0, "Enter an address."},
        {"12G", TAddressKind::Offset, Size, 0, notANumber},
        {"#1F", TAddressKind::Offset, Size, 0, notANumber},
        {"0x", TAddressKind::Offset, Size, 0, notANumber},
        {"1 0", TAddressKind::Offset, Size, 0, notANumber},
        {"10000000000000000", TAddressKind::Offset, Size, 0, "The number is too large for an address."},
        {"0", TAddressKind::Offset, 0, 0, "The buffer is empty: there is nothing to go to."},
    };
    for (const TCase& c : cases) {
        const TGoToTarget target = ResolveGoToAddress(c.Text, c.Kind, Base, c.Size);
        EXPECT_EQ(target.Error, c.Error) << c.Text;
        EXPECT_EQ(target.Offset, c.Offset) << c.Text;
    }
}

} // namespace
} // namespace lindprog
