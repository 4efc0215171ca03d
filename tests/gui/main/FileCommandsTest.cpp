// File > Open and File > Save through the real main window: its buffer, its hex
// view and its log, against real files. The file choosers are the commands'
// only modal parts; the tests pick the file instead, and drive the real
// choosers without their modal loop.

#include "gui/main/FileCommands.h"

#include "core/base/Stm32Crc.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/LogView.h"
#include "gui/main/MessagePrompts.h"
#include "gui/main/WindowStore.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace lindprog {
namespace {

using test::TModalAnswer;

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::TMainHarness;

const std::string SizeQuestion = "File size is not equal to buffer size. Continue?";

// What the application-wide handler does with an error that escapes a command.
void RunAsTheApplicationDoes(const std::function<void()>& command)
{
    try {
        command();
    } catch (const std::exception& error) {
        ShowApplicationError(QApplication::activeWindow(), QString::fromUtf8(error.what()));
    }
}

struct TErrorBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    int Buttons = 0;
};

class FileCommandsTest : public ::testing::Test {
protected:
    void SetUp() override { StartWindow(); }

    void StartWindow(const nlohmann::json& scenario = test::AdapterScenario())
    {
        Harness.reset(); // one window and one COM1 at a time
        Harness = std::make_unique<TMainHarness>(scenario);
        Form = &Harness->Start();
        Form->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Form));
        FirstLine = Form->Log().topLevelItemCount();
    }

    std::string WriteFile(const std::string& name, const Bytes& bytes) const
    {
        const fs::path path = Harness->Dir.Path / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }
    static Bytes ReadFile(const fs::path& path)
    {
        std::ifstream file(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    }

    void Open(const std::string& path)
    {
        OpenFileIntoBuffer(Form->Log(), Form->Buffer(), Form->Dump(), Form->Prompts(),
                           [&] { return QString::fromStdString(path); }, {});
    }
    void Save(const std::string& path)
    {
        SaveBufferIntoFile(Form->Log(), Form->Buffer(), Form->Dump(), [&] { return QString::fromStdString(path); }, {});
    }
    // Runs a command that is expected to fail, as the application would, and
    // gives the error box it showed.
    TErrorBox FailingCommand(const std::function<void()>& command)
    {
        TErrorBox seen;
        const TModalAnswer<QMessageBox> handler([&](QMessageBox* box) {
            seen = {box->windowTitle(), box->text(), box->icon(), static_cast<int>(box->buttons().size())};
        });
        RunAsTheApplicationDoes(command);
        EXPECT_TRUE(handler.Seen()) << "no error box";
        return seen;
    }

    // The log lines the commands of a test added.
    std::vector<std::string> NewLines() const
    {
        std::vector<std::string> lines;
        for (int row = FirstLine; row < Form->Log().topLevelItemCount(); ++row)
            lines.push_back(Form->Log().MessageAt(row).toStdString());
        return lines;
    }
    Bytes BufferBytes() const { return {Form->Buffer().Bytes().begin(), Form->Buffer().Bytes().end()}; }
    // A buffer of `size` bytes holding `contents` (padded with `fill`), accepted.
    void SetBuffer(std::uint32_t size, const Bytes& contents = {}, std::uint8_t fill = 0)
    {
        Form->ResizeBuffer(size);
        auto bytes = Form->Buffer().Bytes();
        std::ranges::fill(bytes, fill);
        std::ranges::copy(contents, bytes.begin());
        Form->Dump().UpdateChanges();
    }
    // Types two hex digits over byte 0, as the user does in the view.
    void EditFirstByte(const char* digits)
    {
        Form->Dump().setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(&Form->Dump(), digits);
    }
    std::size_t ChangedCount() const
    {
        std::size_t count = 0;
        for (std::size_t i = 0; i < Form->Buffer().Size(); ++i)
            count += Form->Dump().Editor().Data().IsChanged(static_cast<std::int64_t>(i)) ? 1 : 0;
        return count;
    }
    void RevertChanges()
    {
        auto* revert = Form->Dump().PopupMenu()->findChild<QAction*>("cmRevertChanges");
        ASSERT_NE(revert, nullptr);
        revert->trigger();
    }
    static std::string CrcLine(std::size_t count, std::span<const std::uint8_t> bytes)
    {
        char line[64];
        std::snprintf(line, sizeof line, "Loaded %zu bytes, CRC32 = %.08X", count,
                      static_cast<unsigned>(CrcUpdateBytes(CrcStart, bytes)));
        return line;
    }

    std::unique_ptr<TMainHarness> Harness;
    TMainForm* Form = nullptr;
    int FirstLine = 0;
};

TEST_F(FileCommandsTest, FileOfTheBufferSizeLoadsWithoutAQuestion)
{
    SetBuffer(16, {}, 0x77);
    Bytes file(16);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(0x30 + i);
    const std::string path = WriteFile("exact.bin", file);
    Form->Dump().setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(Form->Dump().CursorShown());
    Open(path);
    EXPECT_TRUE(Harness->Prompts.Seen.empty());
    EXPECT_EQ(BufferBytes(), file);
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"Opening file [" + path + "]...", CrcLine(16, file)}));
    EXPECT_EQ(ChangedCount(), 0u);
    EXPECT_FALSE(Form->Dump().Modified());
    EXPECT_TRUE(Form->Log().hasFocus());
    EXPECT_FALSE(Form->Dump().CursorShown());
}

TEST_F(FileCommandsTest, FourBytesFFLogCrcZero)
{
    SetBuffer(4);
    Open(WriteFile("ff.bin", {0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_EQ(NewLines().size(), 2u);
    EXPECT_EQ(NewLines()[1], "Loaded 4 bytes, CRC32 = 00000000");
}

TEST_F(FileCommandsTest, ShorterFileAfterYesEndsInZerosThatShowUnchanged)
{
    SetBuffer(16, {}, 0xEE);
    const Bytes file = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0x10};
    Harness->Prompts.Answers = {TAnswer::Yes};
    Open(WriteFile("ten.bin", file));
    ASSERT_EQ(Harness->Prompts.Seen.size(), 1u);
    EXPECT_EQ(Harness->Prompts.Seen[0].Kind, "warning");
    EXPECT_EQ(Harness->Prompts.Seen[0].Text, SizeQuestion);
    Bytes expected = file;
    expected.resize(16, 0x00);
    EXPECT_EQ(BufferBytes(), expected);
    ASSERT_EQ(NewLines().size(), 2u);
    EXPECT_EQ(NewLines()[1], CrcLine(10, expected));
    EXPECT_EQ(ChangedCount(), 0u);
}

TEST_F(FileCommandsTest, LongerFileAfterYesLoadsItsFirstBytes)
{
    SetBuffer(16);
    Bytes file(32);
    for (std::size_t i = 0; i < file.size(); ++i)
        file[i] = static_cast<std::uint8_t>(0xC0 + i);
    Harness->Prompts.Answers = {TAnswer::Yes};
    Open(WriteFile("long.bin", file));
    EXPECT_EQ(Harness->Prompts.Texts(), std::vector<std::string>{SizeQuestion});
    const Bytes first(file.begin(), file.begin() + 16);
    EXPECT_EQ(BufferBytes(), first);
    ASSERT_EQ(NewLines().size(), 2u);
    EXPECT_EQ(NewLines()[1], CrcLine(16, first));
}

TEST_F(FileCommandsTest, AnsweringNoKeepsEditsShownAndRevertible)
{
    SetBuffer(16, {}, 0x11);
    EditFirstByte("99");
    ASSERT_EQ(Form->Buffer().Bytes()[0], 0x99);
    Harness->Prompts.Answers = {TAnswer::No};
    const std::string path = WriteFile("twenty.bin", Bytes(20, 0x55));
    Open(path);
    EXPECT_EQ(Harness->Prompts.Texts(), std::vector<std::string>{SizeQuestion});
    EXPECT_EQ(NewLines(), std::vector<std::string>{"Opening file [" + path + "]..."});
    EXPECT_EQ(Form->Buffer().Bytes()[0], 0x99);
    EXPECT_EQ(Form->Buffer().Bytes()[1], 0x11);
    EXPECT_TRUE(Form->Dump().Editor().Data().IsChanged(0));
    EXPECT_TRUE(Form->Dump().Modified());
    RevertChanges();
    EXPECT_EQ(BufferBytes(), Bytes(16, 0x11));
}

// File > Open's other ways in (a dropped file, Recent files), the title that
// names the file and marks edits, the question before edits are let go, and
// the log saved with its dates.
TEST_F(FileCommandsTest, DroppedAndRecentFilesOpenAndEditsAreKeptUntilLetGo)
{
    SetBuffer(16, {}, 0x11);
    const std::string path = WriteFile("sixteen.bin", Bytes(16, 0x55));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(Form, &drop);
    QTRY_COMPARE(BufferBytes(), Bytes(16, 0x55));
    EXPECT_EQ(Form->windowTitle(), "Corvane Programmer - [COM1] - sixteen.bin");
    EXPECT_EQ(RecentFiles().value(0), QString::fromStdString(path));

    EditFirstByte("99");
    EXPECT_EQ(Form->windowTitle(), "Corvane Programmer - [COM1] - sixteen.bin *");
    emit Form->mnRecent->aboutToShow();
    QAction* recent = Form->mnRecent->actions().value(0);
    ASSERT_NE(recent, nullptr);
    Harness->Prompts.Answers = {TAnswer::No};
    recent->trigger();
    QTRY_COMPARE(Harness->Prompts.Texts(), std::vector<std::string>{TMainForm::DiscardQuestion});
    EXPECT_EQ(Form->Buffer().Bytes()[0], 0x99);
    Harness->Prompts.Answers = {TAnswer::Yes};
    recent->trigger();
    QTRY_COMPARE(BufferBytes(), Bytes(16, 0x55));
    EXPECT_EQ(Form->windowTitle(), "Corvane Programmer - [COM1] - sixteen.bin");

    const fs::path log = Harness->Dir.Path / "log.txt";
    Form->Log().SaveToFile(QString::fromStdString(log.string()));
    const Bytes saved = ReadFile(log);
    const std::string text(saved.begin(), saved.end());
    const std::string last = QDate::currentDate().toString("yyyy-MM-dd").toStdString();
    EXPECT_EQ(text.rfind(last, 0), 0u) << text;
    EXPECT_NE(text.find("  " + CrcLine(16, Bytes(16, 0x55)) + "\n"), std::string::npos) << text;
}

TEST_F(FileCommandsTest, WithoutARegionLoadAsksAndSaveWritesAnEmptyFile)
{
    nlohmann::json scenario = test::AdapterScenario();
    scenario["devices"] = nlohmann::json::array();
    StartWindow(scenario);
    ASSERT_EQ(Form->Buffer().Size(), 0u);
    ASSERT_EQ(Form->mBufferSize->text(), "n/a");
    Harness->Prompts.Answers = {TAnswer::Yes};
    Open(WriteFile("some.bin", Bytes(12, 0x42)));
    EXPECT_EQ(Harness->Prompts.Texts(), std::vector<std::string>{SizeQuestion});
    const fs::path saved = Harness->Dir.Path / "empty.bin";
    Save(saved.string());
    EXPECT_EQ(NewLines(),
              (std::vector<std::string>{"Opening file [" + (Harness->Dir.Path / "some.bin").string() + "]...",
                                        "Loaded 0 bytes, CRC32 = FFFFFFFF", "Saving file [" + saved.string() + "]...",
                                        "Saved 0 bytes"}));
    ASSERT_TRUE(fs::exists(saved));
    EXPECT_EQ(fs::file_size(saved), 0u);
}

TEST_F(FileCommandsTest, SaveWritesTheBufferAndAcceptsEdits)
{
    SetBuffer(8, {1, 2, 3, 4, 5, 6, 7, 8});
    EditFirstByte("A5");
    const fs::path path = Harness->Dir.Path / "saved.bin";
    Save(path.string());
    EXPECT_EQ(ReadFile(path), (Bytes{0xA5, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(NewLines(), (std::vector<std::string>{"Saving file [" + path.string() + "]...", "Saved 8 bytes"}));
    EXPECT_TRUE(Form->Log().hasFocus());
    EXPECT_FALSE(Form->Dump().Modified());
    RevertChanges(); // the save accepted the edit: nothing to revert
    EXPECT_EQ(Form->Buffer().Bytes()[0], 0xA5);
    EXPECT_EQ(ChangedCount(), 0u);
}

TEST_F(FileCommandsTest, CancelledChoiceDoesNothing)
{
    SetBuffer(4, {1, 2, 3, 4});
    EditFirstByte("FF");
    OpenFileIntoBuffer(Form->Log(), Form->Buffer(), Form->Dump(), Form->Prompts(), [] { return QString(); }, {});
    SaveBufferIntoFile(Form->Log(), Form->Buffer(), Form->Dump(), [] { return QString(); }, {});
    EXPECT_TRUE(NewLines().empty());
    EXPECT_TRUE(Harness->Prompts.Seen.empty());
    EXPECT_EQ(BufferBytes(), (Bytes{0xFF, 2, 3, 4}));
    EXPECT_TRUE(Form->Dump().Modified());
}

TEST_F(FileCommandsTest, UnreadableFileGivesTheErrorBoxAndChangesNothing)
{
    SetBuffer(8, {}, 0x33);
    EditFirstByte("44");
    const std::string path = (Harness->Dir.Path / "missing.bin").string();
    const TErrorBox box = FailingCommand([&] { Open(path); });
    EXPECT_EQ(box.Title, QApplication::applicationName());
    EXPECT_EQ(box.Icon, QMessageBox::Critical);
    EXPECT_EQ(box.Buttons, 1);
    EXPECT_EQ(box.Text.toStdString(), "Cannot open file \"" + path + "\". No such file or directory.");
    EXPECT_EQ(NewLines(), std::vector<std::string>{"Opening file [" + path + "]..."});
    EXPECT_TRUE(Harness->Prompts.Seen.empty());
    EXPECT_EQ(BufferBytes(), (Bytes{0x44, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33, 0x33}));
    EXPECT_TRUE(Form->Dump().Editor().Data().IsChanged(0));
    RevertChanges();
    EXPECT_EQ(BufferBytes(), Bytes(8, 0x33));
}

TEST_F(FileCommandsTest, FailedSaveGivesTheErrorBoxLogsNoSavedLineAndKeepsEdits)
{
    SetBuffer(4, {}, 0x01);
    EditFirstByte("02");
    const std::string path = (Harness->Dir.Path / "gone" / "out.bin").string();
    const TErrorBox box = FailingCommand([&] { Save(path); });
    EXPECT_EQ(box.Text.toStdString(), "Cannot create file \"" + path + "\". No such file or directory.");
    EXPECT_EQ(NewLines(), std::vector<std::string>{"Saving file [" + path + "]..."});
    EXPECT_TRUE(Form->Dump().Modified());
    RevertChanges();
    EXPECT_EQ(BufferBytes(), Bytes(4, 0x01));
}

// The real choosers, shown without a modal loop: a name is typed and accepted.
class FileDialogsTest : public ::testing::Test {
protected:
    static QString TypeAndAccept(QFileDialog& dialog, const QString& folder, const char* name)
    {
        dialog.setDirectory(folder);
        dialog.show();
        auto* edit = dialog.findChild<QLineEdit*>("fileNameEdit");
        if (!edit) {
            ADD_FAILURE() << "no file name edit";
            return {};
        }
        edit->clear();
        QTest::keyClicks(edit, name);
        static_cast<QDialog&>(dialog).accept(); // what the dialog's Open or Save button does
        return TBufferFileDialogs::ChosenFile(dialog);
    }

    test::TScratchDir Dir;
    QWidget Window;
    TBufferFileDialogs Dialogs{&Window};
};

TEST_F(FileDialogsTest, OpenOffersEverySupportedFileFirstSaveBinaryFilesAndBothAppendBin)
{
    EXPECT_EQ(Dialogs.OpenDialog().nameFilters(),
              (QStringList{"All supported files (*.bin *.hex *.ihex *.srec *.s19 *.s28 *.s37 *.mot *.elf *.axf *.out)",
                           "Binary file (*.bin)", "Intel HEX (*.hex *.ihex)",
                           "S-record (*.srec *.s19 *.s28 *.s37 *.mot)", "ELF (*.elf *.axf *.out)", "All files (*)"}));
    EXPECT_EQ(Dialogs.SaveDialog().nameFilters(),
              (QStringList{"Binary file (*.bin)", "Intel HEX (*.hex *.ihex)",
                           "S-record (*.srec *.s19 *.s28 *.s37 *.mot)", "All files (*)"}));
    for (QFileDialog* dialog : {&Dialogs.OpenDialog(), &Dialogs.SaveDialog()}) {
        EXPECT_EQ(dialog->defaultSuffix(), "bin");
        EXPECT_EQ(dialog->parent(), &Window);
    }
    EXPECT_EQ(Dialogs.OpenDialog().acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(Dialogs.OpenDialog().fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(Dialogs.SaveDialog().acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(Dialogs.SaveDialog().testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(&Dialogs.OpenDialog(), &Dialogs.OpenDialog()) << "kept for the life of the window";
}

TEST_F(FileDialogsTest, TypedNameWithoutExtensionGetsBin)
{
    const QString folder = QString::fromStdString(Dir.Path.string());
    EXPECT_EQ(TypeAndAccept(Dialogs.SaveDialog(), folder, "image"), folder + "/image.bin");
    EXPECT_EQ(TypeAndAccept(Dialogs.SaveDialog(), folder, "image.dat"), folder + "/image.dat");
    std::ofstream(Dir.Path / "dump.bin") << "x";
    EXPECT_EQ(TypeAndAccept(Dialogs.OpenDialog(), folder, "dump"), folder + "/dump.bin");
}

TEST_F(FileDialogsTest, CancelledChooserGivesNoFile)
{
    QFileDialog& dialog = Dialogs.SaveDialog();
    dialog.show();
    dialog.reject();
    EXPECT_TRUE(TBufferFileDialogs::ChosenFile(dialog).isEmpty());
}

} // namespace
} // namespace lindprog
