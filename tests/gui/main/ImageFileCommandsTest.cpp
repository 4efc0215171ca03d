// Image files (Intel HEX, S-record) through the real main window: its file
// choosers, the base question, the buffer, the simulator's flash. The files
// are made and checked with objcopy, a tool that knows nothing of this
// program. The formats' own rules are the core's tests; these check that the
// window asks, remembers and reports as it should.

#include "core/buffer/ImageFile.h"
#include "gui/buffer/BaseD.h"
#include "gui/main/LogView.h"
#include "gui/main/MessagePrompts.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using nlohmann::json;
using test::TMainHarness;
using test::TModalAnswer;

constexpr std::uint32_t CodeSize = 4096;
constexpr std::uint32_t DataSize = 2048;
enum Region { Code, Data };

json ImageScenario()
{
    return json::parse(R"({
      "identity": "Corvane JTAG", "version": [1, 18], "mode": 3, "key": 1,
      "devices": [{"name": "SPC560B50", "voltages": 1, "regions": [
        {"name": "Code flash", "flags": 7, "size": 4096, "fill": 0},
        {"name": "Data flash", "flags": 7, "size": 2048, "fill": 0}
      ]}]
    })");
}

Bytes RandomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes ReadFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> ReadLines(const fs::path& path)
{
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines)
{
    std::ofstream file(path);
    for (const auto& line : lines)
        file << line << '\n';
}

void RunTool(const std::string& command)
{
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// The Intel HEX objcopy makes of `bytes` placed at `address`.
std::vector<std::string> HexOf(const fs::path& folder, const Bytes& bytes, std::uint32_t address)
{
    const fs::path raw = folder / "piece.bin";
    const fs::path hex = folder / "piece.hex";
    WriteFile(raw, bytes);
    RunTool("objcopy -I binary -O ihex --change-addresses " + std::to_string(address) + " '" + raw.string() + "' '" +
            hex.string() + "'");
    return ReadLines(hex);
}

class ImageFileCommandsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Harness.Started);
        Start();
    }
    void Start()
    {
        Form = &Harness.Start();
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form));
    }

    fs::path Dir() const { return Harness.Dir.Path; }
    Bytes BufferBytes() const { return {Form->Buffer().Bytes().begin(), Form->Buffer().Bytes().end()}; }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        for (int row = 0; row < Form->Log().topLevelItemCount(); ++row)
            lines.push_back(Form->Log().MessageAt(row).toStdString());
        return lines;
    }
    void SelectRegion(int region)
    {
        Form->cbRegion->setCurrentIndex(region);
        emit Form->cbRegion->activated(region);
        ASSERT_EQ(Form->cbRegion->currentIndex(), region);
    }

    // Answers the window's file chooser as a user does: the filter (when
    // given), the folder, the name, Enter.
    static std::function<void(QFileDialog*)> Pick(const fs::path& path, const QString& filter = {})
    {
        return [=](QFileDialog* dialog) {
            if (!filter.isEmpty()) {
                auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
                ASSERT_NE(types, nullptr);
                ASSERT_GE(types->findText(filter), 0) << filter.toStdString();
                types->setFocus();
                while (types->currentText() != filter && types->currentIndex() + 1 < types->count())
                    QTest::keyClick(types, Qt::Key_Down);
            }
            dialog->setDirectory(QString::fromStdString(path.parent_path().string()));
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path.filename().string()));
            QTest::keyClick(name, Qt::Key_Return);
        };
    }

    // File > Open of `path`; the base dialog, if it comes, goes to `answer`.
    // Gives the text of the error box the command ended with, if any.
    QString Open(const fs::path& path, std::function<void(TBaseDialog*)> answer = {})
    {
        const TModalAnswer<QFileDialog> chooser(Pick(path));
        std::optional<TModalAnswer<TBaseDialog>> base;
        if (answer)
            base.emplace(answer);
        const QString error = AsTheApplication([&] { Form->cmFileOpenClick(); });
        if (base) {
            EXPECT_TRUE(base->Seen()) << "no base dialog";
        }
        return error;
    }

    // Runs a command as the application does: an error that escapes it is
    // shown in the application's error box, whose text is given back.
    static QString AsTheApplication(const std::function<void()>& command)
    {
        try {
            command();
        } catch (const std::exception& error) {
            QString text;
            const TModalAnswer<QMessageBox> box([&](QMessageBox* shown) { text = shown->text(); });
            ShowApplicationError(QApplication::activeWindow(), QString::fromUtf8(error.what()));
            return text;
        }
        return {};
    }

    // Accepts the base dialog with `base` typed, noting what it proposed.
    std::function<void(TBaseDialog*)> TypeBase(const char* base)
    {
        return [this, base](TBaseDialog* dialog) {
            Proposed = dialog->eBase->text().toStdString();
            dialog->eBase->selectAll();
            QTest::keyClicks(dialog->eBase, base);
            ASSERT_TRUE(dialog->btnOk->isEnabled()) << base;
            dialog->btnOk->click();
        };
    }
    std::function<void(TBaseDialog*)> Cancel()
    {
        return [this](TBaseDialog* dialog) {
            Proposed = dialog->eBase->text().toStdString();
            dialog->btnCancel->click();
        };
    }

    TMainHarness Harness{ImageScenario()};
    TMainForm* Form = nullptr;
    std::string Proposed;
};

TEST_F(ImageFileCommandsTest, HexFileWithGapsIsProgrammedWithErasedBytesInTheGaps)
{
    // Two pieces with a gap between them and after them.
    const Bytes first = RandomBytes(1000, 1);
    const Bytes second = RandomBytes(700, 2);
    std::vector<std::string> lines = HexOf(Dir(), first, 0x8000000);
    // The second piece brings the start address and the end record.
    std::erase_if(lines, [](const std::string& line) {
        const std::string type = line.substr(7, 2);
        return type == "01" || type == "05";
    });
    for (const auto& line : HexOf(Dir(), second, 0x8000800))
        lines.push_back(line);
    const fs::path path = Dir() / "firmware.hex";
    WriteLines(path, lines);

    ASSERT_TRUE(Open(path, TypeBase("")).isEmpty());
    EXPECT_EQ(Proposed, "08000000") << "the image's start rounded down to the region size";
    Bytes expected(CodeSize, 0xFF);
    std::ranges::copy(first, expected.begin());
    std::ranges::copy(second, expected.begin() + 0x800);
    EXPECT_EQ(BufferBytes(), expected);
    EXPECT_EQ(LogLines().back().rfind("Loaded 1700 bytes in 2 segments [08000000-08000ABB], CRC32 = ", 0), 0u)
        << LogLines().back();

    Harness.Prompts.Answers = {TAnswer::Yes};
    Form->btnProgram->click();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !Harness.Prompts.Seen.empty() && Harness.Prompts.Seen.back().Text == "Programming successfull"; },
        20000));
    EXPECT_EQ(Harness.Sim.RegionContents(0, Code), expected);
    EXPECT_EQ(Harness.Sim.RequestCount(162), 4) << "an image's erased blocks are proven blank, not written";
}

TEST_F(ImageFileCommandsTest, TypedBaseIsProposedAgainForItsRegionOnly)
{
    const fs::path path = Dir() / "small.hex";
    const Bytes bytes = RandomBytes(16, 3);
    WriteLines(path, HexOf(Dir(), bytes, 0x8000010));

    ASSERT_TRUE(Open(path, TypeBase("7FFFF00")).isEmpty());
    EXPECT_EQ(Proposed, "08000000");
    Bytes expected(CodeSize, 0xFF);
    std::ranges::copy(bytes, expected.begin() + 0x110);
    EXPECT_EQ(BufferBytes(), expected);

    // Cancel: the buffer stays and the log has nothing new.
    Form->Buffer().Bytes()[0] = 0x5A;
    expected[0] = 0x5A;
    const auto lines = LogLines();
    ASSERT_TRUE(Open(path, Cancel()).isEmpty());
    EXPECT_EQ(Proposed, "07FFFF00");
    EXPECT_EQ(BufferBytes(), expected);
    EXPECT_EQ(LogLines(), lines);

    SelectRegion(Data);
    ASSERT_EQ(Form->Buffer().Size(), DataSize);
    ASSERT_TRUE(Open(path, Cancel()).isEmpty());
    EXPECT_EQ(Proposed, "08000000") << "another region starts from the default";

    // Kept beside the window's placement, so a new window proposes it too.
    Harness.Stop();
    Start();
    ASSERT_EQ(Form->cbRegion->currentText(), "Code flash");
    ASSERT_TRUE(Open(path, Cancel()).isEmpty());
    EXPECT_EQ(Proposed, "07FFFF00");
}

// Without an adapter there is no region: the image gives the buffer its size,
// from the base typed to its end.
TEST_F(ImageFileCommandsTest, WithoutAnAdapterTheImageSizesTheBuffer)
{
    Form->Connection().Disconnect();
    const fs::path path = Dir() / "alone.hex";
    const Bytes bytes = RandomBytes(16, 6);
    WriteLines(path, HexOf(Dir(), bytes, 0x8000010));
    ASSERT_TRUE(Open(path, TypeBase("8000000")).isEmpty());
    EXPECT_EQ(Proposed, "08000010") << "the image's own start";
    Bytes expected(0x20, 0xFF);
    std::ranges::copy(bytes, expected.begin() + 0x10);
    EXPECT_EQ(BufferBytes(), expected);
    EXPECT_EQ(Form->mBufferSize->text(), "0x20");
}

TEST_F(ImageFileCommandsTest, BrokenOrMisplacedImageNamesFileAndLineAndKeepsTheBuffer)
{
    for (std::size_t i = 0; i < CodeSize; ++i)
        Form->Buffer().Bytes()[i] = static_cast<std::uint8_t>(i * 3);
    const Bytes before = BufferBytes();

    // 64 bytes: the address record, then four lines of 16.
    std::vector<std::string> lines = HexOf(Dir(), RandomBytes(64, 4), 0x8000000);
    ASSERT_GE(lines.size(), 4u);
    std::string& third = lines[2];
    third.replace(third.size() - 2, 2, third.substr(third.size() - 2) == "00" ? "01" : "00");
    const fs::path broken = Dir() / "broken.hex";
    WriteLines(broken, lines);
    const std::string brokenText = Open(broken).toStdString();
    EXPECT_NE(brokenText.find(broken.string()), std::string::npos) << brokenText;
    EXPECT_NE(brokenText.find("line 3"), std::string::npos) << brokenText;
    EXPECT_EQ(BufferBytes(), before);

    // The same bytes, intact, with the region placed after their last line.
    const fs::path good = Dir() / "good.hex";
    WriteLines(good, HexOf(Dir(), RandomBytes(64, 4), 0x8000000));
    const std::string placedText = Open(good, TypeBase("8000030")).toStdString();
    EXPECT_NE(placedText.find(good.string()), std::string::npos) << placedText;
    EXPECT_NE(placedText.find("line 2"), std::string::npos) << placedText;
    EXPECT_EQ(BufferBytes(), before);
}

TEST_F(ImageFileCommandsTest, SavedSRecordHoldsTheBufferAtTheTypedBase)
{
    const Bytes bytes = RandomBytes(CodeSize, 5);
    std::ranges::copy(bytes, Form->Buffer().Bytes().begin());
    const TModalAnswer<QFileDialog> chooser(Pick(Dir() / "out", "S-record (*.srec *.s19 *.s28 *.s37 *.mot)"));
    const TModalAnswer<TBaseDialog> base(TypeBase("8000000"));
    ASSERT_TRUE(AsTheApplication([&] { Form->cmFileSaveClick(); }).isEmpty());
    EXPECT_EQ(Proposed, "00000000") << "nothing remembered yet";

    const fs::path saved = Dir() / "out.srec";
    ASSERT_TRUE(fs::exists(saved)) << "the name takes the chosen filter's extension";
    RunTool("objcopy -I srec -O binary '" + saved.string() + "' '" + (Dir() / "back.bin").string() + "'");
    EXPECT_EQ(ReadFile(Dir() / "back.bin"), bytes);
    const TImage image = ParseImage(ReadFile(saved));
    EXPECT_EQ(image.Format, TImageFormat::SRecord);
    EXPECT_EQ(image.Lowest(), 0x8000000u);
    EXPECT_EQ(image.End(), 0x8000000u + CodeSize);
}

} // namespace
} // namespace lindprog
