// The image readers and writers against independent tools: objcopy and
// srec_cat write the HEX and S-record files we must read and read back the ones
// we write, and the system's compiler and linker make the ELF files.

#include "core/buffer/ImageFile.h"

#include "core/buffer/IntelHex.h"
#include "core/buffer/SRecord.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

bool HaveTool(const std::string& name)
{
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The command's exit status, its complaints in the test's output.
int Shell(const std::string& command)
{
    return std::system((command + " 2>&1").c_str());
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary).write(text.data(), static_cast<std::streamsize>(text.size()));
}

Bytes RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes AsBytes(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::string Hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// Everything a reader must shrug off: lower-case digits, CRLF, trailing blanks
// and blank lines, also before the first record.
std::string Roughen(const std::string& text)
{
    std::string rough = "\r\n";
    std::size_t line = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool recordMark = i == 0 || text[i - 1] == '\n';
        if (c == '\n') {
            rough += ++line % 7 == 0 ? " \t\r\n\r\n" : " \r\n";
        } else {
            rough += recordMark ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return rough;
}

// Reads `text`, places it at the base DefaultImageBase picks for a region of
// `regionSize` and checks that region holds `data` at `base`, 0xFF after it.
void ExpectLoads(const std::string& text, TImageFormat format, std::uint64_t base, std::uint32_t regionSize,
                 const Bytes& data)
{
    const TImage image = ParseImage(AsBytes(text));
    EXPECT_EQ(image.Format, format);
    ASSERT_EQ(DefaultImageBase(image, regionSize), base);
    Bytes region(regionSize, 0x00);
    PlaceImage(image, base, region);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), region.begin()));
    EXPECT_TRUE(std::all_of(region.begin() + static_cast<std::ptrdiff_t>(data.size()), region.end(),
                            [](std::uint8_t byte) { return byte == 0xFF; }));
}

TEST(ImageFileTest, FilesWrittenByObjcopyAndSrecCatLoadToTheirBytes)
{
    if (!HaveTool("objcopy") || !HaveTool("srec_cat"))
        GTEST_SKIP() << "objcopy (binutils) or srec_cat (srecord) missing; scripts/install-deps installs them";
    const test::TScratchDir scratch;
    const struct {
        std::uint64_t Base;
        std::size_t Size;
        std::uint32_t Region;
    } cases[] = {{0, 150001, 0x40000}, {0x8000000, 150001, 0x40000}, {0xFFFF0000, 0xFFF1, 0x10000}};
    for (const auto& c : cases) {
        const Bytes data = RandomBytes(c.Size, static_cast<unsigned>(c.Base));
        const fs::path raw = scratch.Path / "data.bin";
        WriteFile(raw, std::string(data.begin(), data.end()));
        const std::string in = raw.string();
        const std::string base = Hex(c.Base);
        const std::string out = (scratch.Path / "out.txt").string();
        const std::string srecCat = "srec_cat " + in + " -binary -offset " + base + " -o " + out;
        const struct {
            std::string Command;
            TImageFormat Format;
        } tools[] = {
            {"objcopy -I binary -O ihex --change-addresses " + base + " " + in + " " + out, TImageFormat::IntelHex},
            {"objcopy -I binary -O srec --change-addresses " + base + " " + in + " " + out, TImageFormat::SRecord},
            {"objcopy -I binary -O srec --srec-forceS3 --change-addresses " + base + " " + in + " " + out,
             TImageFormat::SRecord},
            {srecCat + " -intel", TImageFormat::IntelHex},
            {srecCat + " -motorola", TImageFormat::SRecord},
        };
        for (const auto& tool : tools) {
            SCOPED_TRACE(tool.Command);
            ASSERT_EQ(Shell(tool.Command), 0);
            const Bytes file = ReadFile(out);
            const std::string text(file.begin(), file.end());
            ExpectLoads(text, tool.Format, c.Base, c.Region, data);
            ExpectLoads(Roughen(text), tool.Format, c.Base, c.Region, data);
        }
    }
}

TEST(ImageFileTest, WrittenFilesReadBackThroughObjcopyAndSrecCat)
{
    if (!HaveTool("objcopy") || !HaveTool("srec_cat"))
        GTEST_SKIP() << "objcopy (binutils) or srec_cat (srecord) missing; scripts/install-deps installs them";
    const test::TScratchDir scratch;
    // The highest address decides S1/S2/S3: 0xFFFF still fits S1. An odd base
    // splits records at 64 KiB boundaries; the last case ends at 4 GiB exactly.
    const struct {
        std::uint64_t Base;
        std::size_t Size;
        const char* DataRecord;
    } cases[] = {{0, 0x10000, "S1"}, {0x1FFF3, 100000, "S2"}, {0xFFFF0000, 0x10000, "S3"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.Base));
        const Bytes data = RandomBytes(c.Size, static_cast<unsigned>(c.Size));
        const std::string hex = WriteIntelHex(data, c.Base);
        const std::string srec = WriteSRecord(data, c.Base);
        EXPECT_EQ(srec.substr(srec.find('\n') + 1, 2), c.DataRecord);
        // Readers that wrap inside a 64 KiB page need records that stay in one.
        for (std::size_t at = 0; at < hex.size(); at = hex.find('\n', at) + 1) {
            const unsigned long record = std::stoul(hex.substr(at + 1, 8), nullptr, 16);
            if ((record & 0xFF) == 0) {
                EXPECT_LE((record >> 8 & 0xFFFF) + (record >> 24), 0x10000u) << hex.substr(at, 9);
            }
        }
        const std::string back = "-offset -" + Hex(c.Base) + " -o " + (scratch.Path / "back.bin").string() + " -binary";
        for (const auto& [text, input, srecCatInput] :
             {std::tuple{hex, "ihex", "-intel"}, std::tuple{srec, "srec", "-motorola"}}) {
            const fs::path file = scratch.Path / "ours.txt";
            WriteFile(file, text);
            ASSERT_EQ(Shell("objcopy -I " + std::string(input) + " -O binary " + file.string() + " " +
                            (scratch.Path / "back.bin").string()),
                      0);
            EXPECT_EQ(ReadFile(scratch.Path / "back.bin"), data) << "objcopy -I " << input;
            ASSERT_EQ(Shell("srec_cat " + file.string() + " " + srecCatInput + " " + back), 0);
            EXPECT_EQ(ReadFile(scratch.Path / "back.bin"), data) << "srec_cat " << srecCatInput;
            Bytes region(c.Size);
            PlaceImage(ParseImage(AsBytes(text)), c.Base, region);
            EXPECT_EQ(region, data);
        }
    }
    EXPECT_THROW(WriteIntelHex(Bytes(16), 0xFFFFFFF8), TImageError);
    EXPECT_THROW(WriteSRecord(Bytes(16), 0xFFFFFFF8), TImageError);
}

TEST(ImageFileTest, LinkedElfSegmentsLandAtTheirLoadAddressesWithoutBss)
{
    if (!HaveTool("gcc") || !HaveTool("objcopy"))
        GTEST_SKIP() << "gcc or objcopy missing";
    const test::TScratchDir scratch;
    WriteFile(scratch.Path / "image.c",
              "const unsigned char table[300] __attribute__((section(\".table\"))) = {1, 2};\n"
              "unsigned char initialised[40] = {5, 6, 7};\n"
              "unsigned char zeroed[256];\n"
              "void _start(void) { zeroed[0] = initialised[1]; }\n");
    // Runs from RAM at 0x20000000 but is stored in flash at 0x8000000 and
    // 0x8004000: the physical addresses are the ones that count.
    WriteFile(scratch.Path / "image.ld", "ENTRY(_start)\n"
                                         "PHDRS { flash PT_LOAD; ram PT_LOAD; }\n"
                                         "SECTIONS {\n"
                                         "  . = 0x20000000;\n"
                                         "  .text : AT(0x8000000) { *(.text*) *(.table) *(.rodata*) } :flash\n"
                                         "  . = 0x20001000;\n"
                                         "  .data : AT(0x8004000) { *(.data*) } :ram\n"
                                         "  .bss : { *(.bss*) *(COMMON) } :ram\n"
                                         "  /DISCARD/ : { *(.note*) *(.comment) *(.eh_frame*) }\n"
                                         "}\n");
    const std::string dir = scratch.Path.string() + "/";
    for (const auto& [bits, target] : {std::pair{"-m64", "elf64-x86-64"}, std::pair{"-m32", "elf32-i386"},
                                       std::pair{"-m32", "elf32-big"}, std::pair{"-m64", "elf64-big"}}) {
        SCOPED_TRACE(target);
        ASSERT_EQ(Shell("gcc " + std::string(bits) + " -nostdlib -static -O1 -fno-pic -no-pie -Wl,-T," + dir +
                        "image.ld -Wl,--build-id=none -Wl,--oformat=" + target + " -o " + dir + "image.elf " + dir +
                        "image.c"),
                  0);
        ASSERT_EQ(Shell("objcopy -I " + std::string(target) + " -O binary --gap-fill 0xFF " + dir + "image.elf " + dir +
                        "image.bin"),
                  0);
        const Bytes expected = ReadFile(dir + "image.bin");
        // objcopy's copy ends with the initialised data, before .bss.
        ASSERT_EQ(expected.size(), 0x4000u + 40);
        const TImage image = ParseImage(ReadFile(dir + "image.elf"));
        EXPECT_EQ(image.Format, TImageFormat::Elf);
        ASSERT_EQ(image.Segments.size(), 2u);
        ASSERT_EQ(DefaultImageBase(image, 0x10000), 0x8000000u);
        Bytes region(0x10000, 0x00);
        PlaceImage(image, 0x8000000, region);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), region.begin()));
        EXPECT_EQ(region[0x3FFF], 0xFF);
        EXPECT_EQ((Bytes{region[0x4000], region[0x4001], region[0x4002]}), (Bytes{5, 6, 7}));
        EXPECT_TRUE(std::all_of(region.begin() + 0x4000 + 40, region.end(), [](std::uint8_t b) { return b == 0xFF; }));
    }
}

// One Intel HEX record with its checksum.
std::string Ihex(std::uint8_t type, std::uint16_t offset, const Bytes& data)
{
    Bytes raw{static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
              static_cast<std::uint8_t>(offset), type};
    raw.insert(raw.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char pair[3];
    for (const std::uint8_t byte : raw) {
        sum += byte;
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - sum % 0x100) % 0x100);
    return line + pair + "\n";
}

// One S-record with its count and checksum; `body` is address and data.
std::string Srec(char type, const Bytes& body)
{
    unsigned sum = static_cast<unsigned>(body.size() + 1);
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", sum);
    std::string line = std::string("S") + type + pair;
    for (const std::uint8_t byte : body) {
        sum += byte;
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    std::snprintf(pair, sizeof pair, "%02X", ~sum & 0xFF);
    return line + pair + "\n";
}

// A little-endian ELF64 file with `count` program headers, each a loadable
// segment of `size` bytes (`memory` in memory) at `offset`, followed by 16
// bytes of data.
Bytes Elf64(std::uint64_t offset, std::uint64_t size, std::uint64_t address, std::uint64_t memory = ~0ull,
            std::size_t count = 1)
{
    const std::size_t data = 64 + 56 * count;
    Bytes elf(data + 16, 0xAB);
    std::fill(elf.begin(), elf.begin() + static_cast<std::ptrdiff_t>(data), 0);
    const auto put = [&](std::size_t at, std::uint64_t value, int width) {
        for (int i = 0; i < width; ++i)
            elf[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    };
    elf[0] = 0x7F, elf[1] = 'E', elf[2] = 'L', elf[3] = 'F', elf[4] = 2, elf[5] = 1;
    put(32, 64, 8);    // program header table offset
    put(54, 56, 2);    // entry size
    put(56, count, 2); // entry count
    for (std::size_t entry = 64; entry < data; entry += 56) {
        put(entry, 1, 4); // a loadable segment
        put(entry + 8, offset, 8);
        put(entry + 24, address, 8);
        put(entry + 32, size, 8);
        put(entry + 40, memory, 8);
    }
    return elf;
}

TEST(ImageFileTest, BadFilesAndMisfitsThrowAndLeaveTheBufferAlone)
{
    const std::string eof = Ihex(1, 0, {});
    const std::string upper = Ihex(4, 0, {0x00, 0x00});
    const Bytes sixteen(16, 0x11);
    Bytes changed = sixteen;
    changed[6] = 0x22;
    Bytes late = sixteen;
    late[14] = 0x22;
    std::string badChecksum = Ihex(0, 0x8000, {1, 2, 3});
    badChecksum[badChecksum.size() - 2] ^= 1;
    const Bytes elfGood = Elf64(120, 16, 0);
    Bytes elfClass = elfGood;
    elfClass[4] = 3;
    Bytes elfTable = elfGood;
    elfTable[32] = 100;
    const struct {
        const char* Name;
        Bytes File;
        std::uint64_t Base;
        const char* Where;
        const char* Problem;
    } cases[] = {
        {"hex checksum", AsBytes(upper + badChecksum + eof), 0x8000, "line 2", "bad checksum 0x"},
        {"hex type", AsBytes(Ihex(7, 0, {}) + eof), 0, "line 1", "record type 07 unknown"},
        {"hex odd", AsBytes(":0000000\n" + eof), 0, "line 1", "odd number of hex digits"},
        {"hex digit", AsBytes(":00000001FG\n"), 0, "line 1", "'G' is no hex digit"},
        {"hex length", AsBytes(":04800000010203F5\n" + eof), 0, "line 1", "length byte 0x04 does not match"},
        {"hex mark", AsBytes(Ihex(0, 0, {1}) + "\n;00000001FF\n" + eof), 0, "line 3", "does not start with ':'"},
        {"hex after end", AsBytes(eof + "\n" + eof), 0, "line 3", "record after the end-of-file record"},
        {"hex truncated", AsBytes(Ihex(0, 0, sixteen)), 0, "", "truncated: no end-of-file record"},
        {"hex upper", AsBytes(Ihex(4, 0, {1}) + eof), 0, "line 1", "extended linear address record has 1"},
        {"srec checksum", AsBytes("S1050000AABB94\nS9030000FC\n"), 0, "line 1", "bad checksum 0x94, expected 0x95"},
        {"srec type", AsBytes(Srec('4', {0, 0}) + Srec('9', {0, 0})), 0, "line 1", "record type S4 unknown"},
        {"srec count", AsBytes(Srec('1', {0, 0, 1}) + Srec('1', {0, 1, 2}) + Srec('5', {0, 3}) + Srec('9', {0, 0})), 0,
         "line 3", "record count 3, but 2 data records before it"},
        {"srec truncated", AsBytes(Srec('1', {0, 0, 1}) + Srec('5', {0, 1}) + Srec('1', {0, 1, 2})), 0, "",
         "truncated: no termination record"},
        {"srec short", AsBytes(Srec('2', {0, 0}) + Srec('8', {0, 0, 0})), 0, "line 1", "too short for its 3-byte"},
        {"elf header", Bytes(elfGood.begin(), elfGood.begin() + 40), 0, "",
         "truncated: the ELF header needs 64 bytes, the file has 40"},
        {"elf class", elfClass, 0, "", "ELF class 3 unknown"},
        {"elf table", elfTable, 0, "", "program header table at 0x64, 56 bytes, beyond the file's 136 bytes"},
        {"elf segment", Elf64(120, 17, 0), 0, "segment 0", "offset+size 0x78+0x11 beyond the file's 136 bytes"},
        {"elf wrap", Elf64(120, 16, ~0ull - 8), 0, "segment 0", "runs past the end of the address space"},
        {"elf memory", Elf64(120, 16, 0, 15), 0, "segment 0", "file size 0x10 larger than its memory size 0xF"},
        // 5000 headers, each naming the whole file: 1.4 GB from 280 kB.
        {"elf many", Elf64(0, 64 + 56 * 5000 + 16, 0, ~0ull, 5000), 0, "segment 958",
         "the loadable segments up to here hold 268596720 bytes, more than the largest region's 268435456"},
        {"below base", AsBytes(upper + Ihex(0, 0x8000, {1}) + Ihex(0, 0x7FFF, {1}) + eof), 0x8000, "line 3",
         "address 0x7FFF below the base 0x8000"},
        // Lines 2 and 3 merge into one segment, which still names line 3.
        {"beyond end", AsBytes(upper + Ihex(0, 0x7FF0, sixteen) + Ihex(0, 0x8000, sixteen) + eof), 0x7000, "line 3",
         "address 0x8000 at or beyond base + region size 0x8000"},
        // Lines 2 and 3 merge into one segment of records of two sizes; line 4
        // meets it in line 3's part.
        {"overlap",
         AsBytes(upper + Ihex(0, 0x7000, Bytes(8, 0x11)) + Ihex(0, 0x7008, Bytes(24, 0x11)) + Ihex(0, 0x7010, late) +
                 eof),
         0x7000, "line 4", "address 0x701E overlaps line 3 with different bytes"},
        // The later line is named first even where it lies lower.
        {"overlap below", AsBytes(Ihex(0, 0x7010, changed) + Ihex(0, 0x7008, sixteen) + eof), 0x7000, "line 2",
         "address 0x7016 overlaps line 1 with different bytes"},
        {"raw too long", Bytes(0x1001, 0x33), 0, "", "address 0x1000 at or beyond base + region size 0x1000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Bytes region(0x1000, 0x5A);
        region[7] = 0xA5;
        const Bytes before = region;
        try {
            PlaceImage(ParseImage(c.File), c.Base, region);
            ADD_FAILURE() << "no error";
        } catch (const TImageError& error) {
            EXPECT_EQ(error.Where, c.Where);
            EXPECT_NE(std::string(error.what()).find(c.Problem), std::string::npos) << error.what();
        }
        EXPECT_EQ(region, before);
    }
}

TEST(ImageFileTest, EqualOverlapLoadsAndNamesChooseTheSavedFormat)
{
    const Bytes sixteen(16, 0x11);
    Bytes region(0x20);
    PlaceImage(ParseImage(AsBytes(Ihex(0, 0x10, sixteen) + Ihex(0, 0x8, sixteen) + Ihex(1, 0, {}))), 0, region);
    EXPECT_EQ(std::count(region.begin(), region.end(), 0x11), 24);
    EXPECT_EQ(DetectImageFormat(AsBytes("S-curve\n")), TImageFormat::Raw);
    EXPECT_EQ(FormatForFileName("out/FIRMWARE.S19"), TImageFormat::SRecord);
    EXPECT_EQ(FormatForFileName("a.Ihex"), TImageFormat::IntelHex);
    EXPECT_EQ(FormatForFileName("build.hex/image"), TImageFormat::Raw);
    EXPECT_EQ(FormatForFileName("image.hex.bin"), TImageFormat::Raw);
}

} // namespace
} // namespace lindprog
