// Loading and saving the buffer, against real files in a scratch folder and the
// view's real change tracking.

#include "core/buffer/BufferFile.h"

#include "core/base/Stm32Crc.h"
#include "core/buffer/DumpData.h"
#include "support/ScriptedPrompts.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

class TRecordingLog final : public TLogSink {
public:
    void AddLogLine(const std::string& text) override { Lines.push_back(text); }
    std::vector<std::string> Lines;
};

// The view's change tracking over the buffer, counting the calls it gets.
class TTracking final : public TChangeTracking {
public:
    explicit TTracking(TDumpData& data) : Data(data) {}
    void Clear() override
    {
        ++Clears;
        Data.Clear();
    }
    void UpdateChanges() override
    {
        ++Updates;
        Data.UpdateChanges();
    }
    TDumpData& Data;
    int Clears = 0;
    int Updates = 0;
};

const test::TPromptRecord SizeWarning{"warning", FileSizeQuestion};

std::string CrcLine(std::size_t count, std::uint32_t crc)
{
    char line[64];
    std::snprintf(line, sizeof line, "Loaded %zu bytes, CRC32 = %.08X", count, static_cast<unsigned>(crc));
    return line;
}

class BufferFileTest : public ::testing::Test {
protected:
    // A buffer of `size` bytes shown by the view, holding `value` as accepted contents.
    void MakeBuffer(std::size_t size, std::uint8_t value = 0)
    {
        Buffer.assign(size, 0);
        Data.SetData(Buffer);
        std::ranges::fill(Buffer, value);
        Data.UpdateChanges();
    }
    std::string Write(const std::string& name, const Bytes& bytes) const
    {
        const fs::path path = Dir / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    static Bytes Read(const fs::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Dir))
            names.push_back(entry.path().filename().string());
        std::ranges::sort(names);
        return names;
    }
    bool Load(const std::string& path) { return LoadBufferFile(path, Buffer, Tracking, Log, Prompts); }
    std::size_t Save(const std::string& path) { return SaveBufferFile(path, Buffer, Tracking, Log); }
    std::size_t ChangedCount() const
    {
        std::size_t count = 0;
        for (std::size_t i = 0; i < Buffer.size(); ++i)
            count += Data.IsChanged(static_cast<std::int64_t>(i)) ? 1 : 0;
        return count;
    }

    const test::TScratchDir Scratch;
    const fs::path Dir = Scratch.Path;
    Bytes Buffer;
    TDumpData Data;
    TTracking Tracking{Data};
    TRecordingLog Log;
    test::TScriptedPrompts Prompts;
};

TEST_F(BufferFileTest, FileOfTheBufferSizeLoadsWithoutAQuestion)
{
    MakeBuffer(8, 0x55);
    const std::string path = Write("digits.bin", {'1', '2', '3', '4', '5', '6', '7', '8'});
    EXPECT_TRUE(Load(path));
    EXPECT_TRUE(Prompts.Seen.empty());
    EXPECT_EQ(Buffer, (Bytes{'1', '2', '3', '4', '5', '6', '7', '8'}));
    EXPECT_EQ(Log.Lines,
              (std::vector<std::string>{"Opening file [" + path + "]...", "Loaded 8 bytes, CRC32 = FEFC54F9"}));
    EXPECT_EQ(ChangedCount(), 0u);
    EXPECT_FALSE(Data.Modified());
    EXPECT_EQ(Tracking.Updates, 1);
}

TEST_F(BufferFileTest, FourBytesFFGiveCrcZero)
{
    MakeBuffer(4);
    EXPECT_TRUE(Load(Write("ff.bin", {0xFF, 0xFF, 0xFF, 0xFF})));
    ASSERT_EQ(Log.Lines.size(), 2u);
    EXPECT_EQ(Log.Lines[1], "Loaded 4 bytes, CRC32 = 00000000");
}

TEST_F(BufferFileTest, ShorterFileAfterYesIsFilledUpWithZeros)
{
    MakeBuffer(16, 0xEE);
    const Bytes file = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Prompts.Answers = {TAnswer::Yes};
    EXPECT_TRUE(Load(Write("short.bin", file)));
    EXPECT_EQ(Prompts.Seen, std::vector{SizeWarning});
    Bytes expected = file;
    expected.resize(16, 0x00);
    EXPECT_EQ(Buffer, expected);
    EXPECT_EQ(Tracking.Clears, 1);
    ASSERT_EQ(Log.Lines.size(), 2u);
    // The CRC covers the six zeros after the file too.
    EXPECT_EQ(Log.Lines[1], CrcLine(10, CrcUpdateBytes(CrcStart, expected)));
    EXPECT_NE(CrcUpdateBytes(CrcStart, expected), CrcUpdateBytes(CrcStart, Bytes(file.begin(), file.begin() + 8)));
    EXPECT_EQ(ChangedCount(), 0u);
}

TEST_F(BufferFileTest, LongerFileAfterYesLoadsItsFirstBytes)
{
    MakeBuffer(16);
    Bytes file(32);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(0xA0 + i);
    Prompts.Answers = {TAnswer::Yes};
    EXPECT_TRUE(Load(Write("long.bin", file)));
    EXPECT_EQ(Prompts.Seen, std::vector{SizeWarning});
    EXPECT_EQ(Buffer, Bytes(file.begin(), file.begin() + 16));
    ASSERT_EQ(Log.Lines.size(), 2u);
    EXPECT_EQ(Log.Lines[1], CrcLine(16, CrcUpdateBytes(CrcStart, Buffer)));
}

TEST_F(BufferFileTest, AnsweringNoOrClosingTheBoxKeepsEditsRevertible)
{
    for (const TAnswer answer : {TAnswer::No, TAnswer::None}) {
        MakeBuffer(16, 0x11);
        ASSERT_TRUE(Data.SetByte(3, 0x99));
        Log.Lines.clear();
        Prompts.Answers = {answer};
        const std::string path = Write("other.bin", Bytes(20, 0x77));
        EXPECT_FALSE(Load(path));
        EXPECT_EQ(Log.Lines, std::vector<std::string>{"Opening file [" + path + "]..."});
        EXPECT_EQ(Buffer[3], 0x99);
        EXPECT_EQ(Buffer[4], 0x11);
        EXPECT_TRUE(Data.Modified());
        EXPECT_TRUE(Data.IsChanged(3));
        EXPECT_EQ(Tracking.Clears + Tracking.Updates, 0);
        Data.RevertChanges();
        EXPECT_EQ(Buffer, Bytes(16, 0x11));
    }
}

TEST_F(BufferFileTest, WithoutARegionLoadingAsksAndLogsZeroBytes)
{
    MakeBuffer(0);
    Prompts.Answers = {TAnswer::Yes};
    EXPECT_TRUE(Load(Write("some.bin", Bytes(12, 0x42))));
    EXPECT_EQ(Prompts.Seen, std::vector{SizeWarning});
    ASSERT_EQ(Log.Lines.size(), 2u);
    EXPECT_EQ(Log.Lines[1], "Loaded 0 bytes, CRC32 = FFFFFFFF");
}

TEST_F(BufferFileTest, EmptyFileIntoNoBufferAsksNothing)
{
    MakeBuffer(0);
    EXPECT_TRUE(Load(Write("empty.bin", {})));
    EXPECT_TRUE(Prompts.Seen.empty());
    ASSERT_EQ(Log.Lines.size(), 2u);
    EXPECT_EQ(Log.Lines[1], "Loaded 0 bytes, CRC32 = FFFFFFFF");
}

TEST_F(BufferFileTest, FileThatCannotBeOpenedThrowsAndChangesNothing)
{
    const std::pair<fs::path, std::string> cases[] = {{Dir / "missing.bin", "No such file or directory"},
                                                      {Dir, "Is a directory"}};
    for (const auto& [path, reason] : cases) {
        MakeBuffer(8, 0x33);
        ASSERT_TRUE(Data.SetByte(0, 0x44));
        Log.Lines.clear();
        try {
            Load(path.string());
            ADD_FAILURE() << "no error for " << path;
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + path.string() + "\". " + reason);
        }
        EXPECT_EQ(Log.Lines, std::vector<std::string>{"Opening file [" + path.string() + "]..."});
        EXPECT_TRUE(Prompts.Seen.empty());
        EXPECT_EQ(Buffer, (Bytes{0x44, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}));
        EXPECT_TRUE(Data.IsChanged(0));
        EXPECT_EQ(Tracking.Clears + Tracking.Updates, 0);
    }
}

TEST_F(BufferFileTest, MessagesNameTheFullPath)
{
    const fs::path cwd = fs::current_path();
    EXPECT_EQ(FullPath("a/../b.bin"), (cwd / "b.bin").string());
    // On Windows "/x" is on the working folder's drive.
    EXPECT_EQ(FullPath("/x/./y/../z.bin"), (cwd.root_path() / "x" / "z.bin").string());
    MakeBuffer(4);
#ifdef _WIN32
    // No relative path leads to another drive, and the scratch folder may be
    // on one: the working folder goes there for the rest of the test.
    fs::current_path(Dir);
#endif
    const std::string relative = fs::relative(Dir / "nothing.bin", fs::current_path()).string();
    EXPECT_THROW(Load(relative), TFileError);
    EXPECT_EQ(Log.Lines.front(), "Opening file [" + (Dir / "nothing.bin").string() + "]...");
#ifdef _WIN32
    fs::current_path(cwd);
#endif
}

TEST_F(BufferFileTest, WholeFileIsReadToItsEndAndNoFurtherThanTheLimit)
{
    // {path, failure}: kernel files report a size of 0 but have contents; the
    // memory file fails every read at offset 0 with EIO.
    const std::pair<std::string, std::string> cases[] = {
        {Write("at-limit.bin", Bytes(4096)), ""},
        {Write("over-limit.bin", Bytes(4097)), "File too large: more than 4096 bytes"},
#ifndef _WIN32
        {"/proc/self/cmdline", ""},
        {"/proc/self/mem", "Input/output error"},
#endif
    };
    for (const auto& [path, failure] : cases) {
        try {
            const std::size_t size = ReadWholeFile(path, 4096).size();
            EXPECT_TRUE(failure.empty() && size > 0 && size <= 4096) << path << ": " << size;
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot read file \"" + path + "\". " + failure);
        }
    }
}

TEST_F(BufferFileTest, RawFileFillsTheRegionExactlyOrPaddedWithFF)
{
    // {file size, --pad, fits} for a region of 8 bytes.
    const std::tuple<std::size_t, bool, bool> cases[] = {
        {8, false, true}, {5, true, true}, {0, true, true}, {5, false, false}, {9, true, false}};
    for (const auto& [size, pad, fits] : cases) {
        MakeBuffer(8, 0x33);
        Log.Lines.clear();
        Bytes expected(8, fits ? 0xFF : 0x33);
        std::fill_n(expected.begin(), fits ? size : 0, 0x5A);
        try {
            PlaceFileInRegion("in.bin", Bytes(size, 0x5A), nullptr, 0, pad, Buffer, Tracking, Log);
            EXPECT_TRUE(fits) << size;
            EXPECT_EQ(Log.Lines.back(), CrcLine(size, CrcUpdateBytes(CrcStart, expected)));
        } catch (const TFileError& error) {
            EXPECT_FALSE(fits) << size;
            EXPECT_EQ(std::string(error.what()), "in.bin holds " + std::to_string(size) + " bytes, the region 8");
            EXPECT_TRUE(Log.Lines.empty());
        }
        EXPECT_EQ(Buffer, expected);
    }
}

TEST_F(BufferFileTest, SaveWritesTheBufferAndAcceptsEdits)
{
    MakeBuffer(6, 0x10);
    ASSERT_TRUE(Data.SetByte(5, 0xC3));
    const fs::path path = Dir / "out.bin";
    EXPECT_EQ(Save(path.string()), 6u);
    EXPECT_EQ(Read(path), (Bytes{0x10, 0x10, 0x10, 0x10, 0x10, 0xC3}));
    EXPECT_EQ(Log.Lines, (std::vector<std::string>{"Saving file [" + path.string() + "]...", "Saved 6 bytes"}));
    EXPECT_FALSE(Data.Modified());
    Data.RevertChanges(); // the save accepted the edit: nothing to revert
    EXPECT_EQ(Buffer[5], 0xC3);
    EXPECT_EQ(Names(), std::vector<std::string>{"out.bin"});
}

TEST_F(BufferFileTest, SaveWithoutARegionWritesAnEmptyFile)
{
    MakeBuffer(0);
    const std::string path = Write("old.bin", Bytes(100, 0xAB));
    EXPECT_EQ(Save(path), 0u);
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(Log.Lines.back(), "Saved 0 bytes");
}

TEST_F(BufferFileTest, SaveReplacesALargerFileAndKeepsItsPermissions)
{
#ifdef _WIN32
    GTEST_SKIP() << "permission bits are POSIX's; Windows keeps access rights on the folder";
#endif
    MakeBuffer(4, 0x5A);
    const std::string path = Write("old.bin", Bytes(100, 0xAB));
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    Save(path);
    EXPECT_EQ(Read(path), Bytes(4, 0x5A));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(BufferFileTest, SaveThroughALinkWritesTheFileItPointsAt)
{
#ifdef _WIN32
    GTEST_SKIP() << "making a symbolic link takes a privilege on Windows, and MinGW's library makes none";
#endif
    MakeBuffer(3, 0x21);
    const std::string real = Write("real.bin", Bytes(9, 0));
    fs::create_directory(Dir / "links");
    fs::create_symlink(real, Dir / "links" / "link.bin");
    Save((Dir / "links" / "link.bin").string());
    EXPECT_TRUE(fs::is_symlink(Dir / "links" / "link.bin"));
    EXPECT_EQ(Read(real), Bytes(3, 0x21));
    EXPECT_EQ(Names(), (std::vector<std::string>{"links", "real.bin"}));
    EXPECT_EQ(std::distance(fs::directory_iterator(Dir / "links"), fs::directory_iterator()), 1);
}

TEST_F(BufferFileTest, SaveIntoAMissingFolderThrowsAndAcceptsNothing)
{
    MakeBuffer(4, 0x01);
    ASSERT_TRUE(Data.SetByte(2, 0x02));
    const fs::path path = Dir / "no-such-folder" / "out.bin";
    try {
        Save(path.string());
        ADD_FAILURE() << "no error";
    } catch (const TFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path.string() + "\". No such file or directory");
    }
    EXPECT_EQ(Log.Lines, std::vector<std::string>{"Saving file [" + path.string() + "]..."});
    EXPECT_TRUE(Data.Modified());
    EXPECT_TRUE(Data.IsChanged(2));
    EXPECT_EQ(Tracking.Updates, 0);
}

TEST_F(BufferFileTest, SaveOverAFolderFailsAndLeavesNoTemporaryFile)
{
    MakeBuffer(4);
    fs::create_directory(Dir / "taken.bin");
    Write("taken.bin/inside", {1});
    EXPECT_THROW(Save((Dir / "taken.bin").string()), TFileError);
    EXPECT_EQ(Names(), std::vector<std::string>{"taken.bin"});
    EXPECT_EQ(Read(Dir / "taken.bin" / "inside"), Bytes{1});
    EXPECT_EQ(Log.Lines.size(), 1u);
}

#ifndef _WIN32
// File size limits, FIFOs, /proc and file-system ids are POSIX's.

// Lets this process write files of at most `bytes`. SIGXFSZ keeps its default
// action, which ends the process: the save must keep it from doing so.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &Old);
        OldHandler = std::signal(SIGXFSZ, SIG_DFL);
        rlimit limit = Old;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &Old);
        std::signal(SIGXFSZ, OldHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Old{};
    void (*OldHandler)(int) = SIG_DFL;
};

TEST_F(BufferFileTest, SaveThatCannotWriteEveryByteKeepsTheOldFile)
{
    MakeBuffer(64 * 1024, 0x6B);
    ASSERT_TRUE(Data.SetByte(0, 0x00));
    const Bytes old = {'o', 'l', 'd', ' ', 'i', 'm', 'a', 'g', 'e'};
    for (const char* name : {"image.bin", "image.hex", "image.srec"}) {
        const std::string path = Write(name, old);
        Log.Lines.clear();
        try {
            const TFileSizeLimit limit(4096);
            SaveImageFile(path, Buffer, 0x8000000, Tracking, Log);
            ADD_FAILURE() << "no error for " << name;
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". File too large");
        }
        EXPECT_EQ(Read(path), old) << name;
        EXPECT_EQ(Log.Lines, std::vector<std::string>{"Saving file [" + path + "]..."});
        EXPECT_TRUE(Data.IsChanged(0));
        std::filesystem::remove(path);
        EXPECT_TRUE(Names().empty()) << "a temporary file was left beside " << name;
    }
}

TEST_F(BufferFileTest, OnlyRegularFilesLoadAndAFailedReadChangesNothing)
{
    const fs::path fifo = Dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The kernel's own memory file fails every read at offset 0 with EIO.
    const std::pair<std::string, std::string> cases[] = {
        {fifo.string(), "Cannot open file \"" + fifo.string() + "\". Not a regular file"},
        {"/proc/self/mem", "Cannot read file \"/proc/self/mem\". Input/output error"}};
    for (const auto& [path, message] : cases) {
        MakeBuffer(8, 0x33);
        Prompts.Answers = {TAnswer::Yes};
        try {
            Load(path); // a blocking open of the FIFO would never return
            ADD_FAILURE() << "no error for " << path;
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
        EXPECT_EQ(Buffer, Bytes(8, 0x33));
        EXPECT_EQ(Tracking.Clears + Tracking.Updates, 0);
    }
}

TEST_F(BufferFileTest, SaveRefusesSpecialFilesAndAnotherUsersLinkInAStickyFolder)
{
    const fs::path sticky = Dir / "shared";
    fs::create_directory(sticky);
    fs::permissions(sticky, fs::perms::all | fs::perms::sticky_bit);
    const std::string real = Write("real.bin", Bytes(9, 0));
    fs::create_symlink(real, sticky / "planted.bin");
    const bool planted = ::lchown((sticky / "planted.bin").c_str(), 65534, 65534) == 0;
    ASSERT_EQ(::mkfifo((Dir / "pipe").c_str(), 0600), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", (Dir / "socket").c_str());
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(listener);
    const std::pair<std::string, std::string> cases[] = {
        {(Dir / "socket").string(), "Not a regular file"},
        {(Dir / "pipe").string(), "Not a regular file"},
        {(sticky / "planted.bin").string(), planted ? "Permission denied" : ""}};
    MakeBuffer(3, 0x21);
    for (const auto& [path, reason] : cases) {
        if (reason.empty())
            continue; // only root gives a link to another user
        try {
            Save(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". " + reason);
        }
    }
    EXPECT_TRUE(fs::is_fifo(Dir / "pipe"));
    EXPECT_TRUE(fs::is_socket(Dir / "socket"));
    EXPECT_EQ(Read(real), Bytes(9, 0));
}

// Makes file access in this thread go as an ordinary user's, so permission
// bits hold even when the tests run as root: a root process switches its
// file-system ids to nobody's, which also drops its right to override them.
class TOrdinaryFileAccess {
public:
    TOrdinaryFileAccess()
    {
        if (::geteuid() != 0)
            return;
        ::setfsgid(Nobody);
        ::setfsuid(Nobody);
        // setfs*id answers with the previous id; asking with an invalid one
        // changes nothing and tells whether the switch took.
        Switched = ::setfsuid(static_cast<uid_t>(-1)) == static_cast<int>(Nobody);
    }
    ~TOrdinaryFileAccess()
    {
        if (::geteuid() != 0)
            return;
        ::setfsuid(0);
        ::setfsgid(0);
    }
    TOrdinaryFileAccess(const TOrdinaryFileAccess&) = delete;
    TOrdinaryFileAccess& operator=(const TOrdinaryFileAccess&) = delete;

    bool Holds() const { return ::geteuid() != 0 || Switched; }

private:
    static constexpr uid_t Nobody = 65534;
    bool Switched = false;
};

// A folder the user may not write to, with a file in it the user may write.
class BufferFileLockedFolderTest : public BufferFileTest {
protected:
    void SetUp() override
    {
        using enum fs::perms;
        fs::create_directory(Locked);
        Write("locked/image.bin", Bytes(100, 0xAB));
        fs::permissions(Locked / "image.bin",
                        owner_read | owner_write | group_read | group_write | others_read | others_write);
        fs::permissions(Locked, owner_read | owner_exec | group_read | group_exec | others_read | others_exec);
        // The scratch folder itself must let the ordinary user through.
        fs::permissions(Dir, group_exec | others_exec, fs::perm_options::add);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(Locked, fs::perms::owner_all, fs::perm_options::add, ignored);
    }

    const fs::path Locked = Dir / "locked";
};

TEST_F(BufferFileLockedFolderTest, ExistingFileIsRewrittenInPlace)
{
    MakeBuffer(6, 0x3C);
    ASSERT_TRUE(Data.SetByte(1, 0x99));
    const std::string path = (Locked / "image.bin").string();
    const std::string missing = (Locked / "new.bin").string();
    {
        const TOrdinaryFileAccess ordinary;
        if (!ordinary.Holds())
            GTEST_SKIP() << "root without the right to act as another user ignores permission bits";
        EXPECT_EQ(Save(path), 6u);
        try {
            Save(missing);
            ADD_FAILURE() << "a new file in the folder was made";
        } catch (const TFileError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + missing + "\". Permission denied");
        }
    }
    EXPECT_EQ(Read(path), (Bytes{0x3C, 0x99, 0x3C, 0x3C, 0x3C, 0x3C}));
    EXPECT_EQ(std::distance(fs::directory_iterator(Locked), fs::directory_iterator()), 1);
    EXPECT_EQ(Log.Lines[1], "Saved 6 bytes");
    EXPECT_FALSE(Data.Modified());
}

TEST_F(BufferFileLockedFolderTest, ShortWriteInPlaceIsAFailure)
{
    MakeBuffer(64 * 1024, 0x6B);
    const std::string path = (Locked / "image.bin").string();
    const TOrdinaryFileAccess ordinary;
    if (!ordinary.Holds())
        GTEST_SKIP() << "root without the right to act as another user ignores permission bits";
    try {
        const TFileSizeLimit limit(4096);
        Save(path);
        ADD_FAILURE() << "no error";
    } catch (const TFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". File too large");
    }
    EXPECT_EQ(Log.Lines, std::vector<std::string>{"Saving file [" + path + "]..."});
    EXPECT_EQ(Read(path), Bytes(100, 0xAB)) << "the old contents went before the new ones had room";
}

#else

TEST_F(BufferFileTest, OnlyDiskFilesLoad)
{
    // Devices open as files on Windows too: the null device would load as an
    // empty file, and reading a console would wait for the user.
    const std::string device = "\\\\.\\NUL";
    MakeBuffer(8, 0x33);
    try {
        Load(device);
        ADD_FAILURE() << "no error for " << device;
    } catch (const TFileError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + FullPath(device) + "\". Not a regular file");
    }
    EXPECT_EQ(Buffer, Bytes(8, 0x33));
    EXPECT_TRUE(Prompts.Seen.empty());
}
#endif

} // namespace
} // namespace lindprog
