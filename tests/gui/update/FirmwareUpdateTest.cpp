#include "core/update/FirmwareImage.h"
#include "gui/update/UpdateD.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::TMainHarness;
using test::TModalAnswer;

std::vector<std::uint8_t> MakeImage(std::size_t size)
{
    std::vector<std::uint8_t> image(size);
    for (std::size_t offset = 0; offset < size; ++offset)
        image[offset] = static_cast<std::uint8_t>(offset * 31 + offset / 2056 + 7);
    return image;
}

fs::path WriteFile(const fs::path& folder, const std::string& name, std::span<const std::uint8_t> bytes)
{
    const fs::path path = folder / name;
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

QStringList Lines(const TUpdateDialog& dialog)
{
    return dialog.Memo->toPlainText().split('\n');
}

json Scenario(int mode, const json& extra = json::object())
{
    json scenario = test::AdapterScenario();
    scenario["mode"] = mode;
    scenario.update(extra);
    return scenario;
}

// Picks `path` in odFirmware, then hands the update dialog, if one comes, to `act`.
class TUpdateCommand {
public:
    explicit TUpdateCommand(TMainForm& form) : Form(form) {}

    void Run(const fs::path& path, std::function<void(TUpdateDialog*)> act = {})
    {
        const TModalAnswer<QFileDialog> chooser([&](QFileDialog* dialog) {
            ChooserName = dialog->objectName();
            if (path.empty()) {
                dialog->reject();
                return;
            }
            if (act)
                Next.emplace(act);
            // As a user does: go to the folder, type the name, press Enter.
            dialog->setDirectory(QString::fromStdString(path.parent_path().string()));
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path.filename().string()));
            QTest::keyClick(name, Qt::Key_Return);
        });
        if (ThroughMenu)
            Form.cmFirmwareUpdate->trigger();
        else
            RunFirmwareUpdate(&Form, Form.Port(), Form.Prompts());
        Next.reset();
    }

    TMainForm& Form;
    QString ChooserName;
    // Qt's signals are not exception-safe (an exception through trigger()
    // leaks a guard); the program catches at the event level, so a test of a
    // throwing command calls it directly.
    bool ThroughMenu = true;

private:
    std::optional<TModalAnswer<TUpdateDialog>> Next;
};

TEST(FirmwareUpdate, ChooserTakesFwuFilesAndCancelDoesNothing)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    const auto requests = harness.Sim.RequestTotal();
    QStringList filters;
    QString suffix;
    QFileDialog::FileMode mode = QFileDialog::ExistingFile;
    const TModalAnswer<QFileDialog> chooser([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        mode = dialog->fileMode();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    RunFirmwareUpdate(&form, form.Port(), form.Prompts());
    EXPECT_EQ(filters, FirmwareFilters());
    EXPECT_EQ(filters, (QStringList{"Firmware files (*.fwu)", "All file (*)"}));
    EXPECT_EQ(suffix, "fwu");
    EXPECT_EQ(mode, QFileDialog::AnyFile) << "a typed name of a missing file is taken";
    EXPECT_TRUE(harness.Prompts.Seen.empty());
    EXPECT_EQ(harness.Sim.RequestTotal(), requests);
}

TEST(FirmwareUpdate, FileSizesThatAreRefused)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    for (const std::size_t size : {0u, 2055u, 2057u, 4113u, 263168u, 262145u}) {
        harness.Prompts.Seen.clear();
        const auto path = WriteFile(harness.Dir.Path, "bad.fwu", MakeImage(size));
        bool opened = false;
        TUpdateCommand command(form);
        command.Run(path, [&](TUpdateDialog* dialog) {
            opened = true;
            dialog->reject();
        });
        EXPECT_EQ(command.ChooserName, "odFirmware");
        EXPECT_FALSE(opened) << size;
        ASSERT_EQ(harness.Prompts.Seen.size(), 1u) << size;
        EXPECT_EQ(harness.Prompts.Seen[0].Kind, "error");
        EXPECT_EQ(harness.Prompts.Seen[0].Text, "Invalid file size");
    }
    EXPECT_EQ(harness.Sim.RequestCount(143), 0);
}

TEST(FirmwareUpdate, FileSizesThatAreAcceptedOpenTheDialogReady)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    for (const auto& [size, pages] : {std::pair<std::size_t, int>{2056, 1}, {4112, 2}, {261112, 127}}) {
        const auto path = WriteFile(harness.Dir.Path, "good.fwu", MakeImage(size));
        QStringList lines;
        int maximum = -1;
        int value = -1;
        QString button;
        bool enabled = false;
        TUpdateCommand command(form);
        command.Run(path, [&](TUpdateDialog* dialog) {
            lines = Lines(*dialog);
            maximum = dialog->pb->maximum();
            value = dialog->pb->value();
            button = dialog->btnStart->text();
            enabled = dialog->btnStart->isEnabled();
            QTest::keyClick(dialog, Qt::Key_Escape); // before Start it may close
        });
        const QStringList expected = {"Update file 'good.fwu' loaded", QString("Page count %1").arg(pages),
                                      "Press [Start] for update"};
        EXPECT_EQ(lines, expected) << size;
        EXPECT_EQ(maximum, pages);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(button, "Start");
        EXPECT_TRUE(enabled);
        EXPECT_TRUE(harness.Prompts.Seen.empty());
    }
    EXPECT_EQ(harness.Sim.RequestCount(143), 0) << "nothing starts without Start";
}

TEST(FirmwareUpdate, MissingFileThrowsForTheApplicationsErrorBox)
{
    TMainHarness harness;
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    const fs::path path = harness.Dir.Path / "typed.fwu";
    TUpdateCommand command(form);
    command.ThroughMenu = false;
    try {
        command.Run(path);
        FAIL() << "no error";
    } catch (const std::exception& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot open file \"" + path.string() + "\". No such file or directory");
    }
}

// The whole command with the real pauses, from the adapter's application.
TEST(FirmwareUpdate, FullUpdateFromApplicationMode)
{
    TMainHarness harness(Scenario(3));
    ASSERT_TRUE(harness.Started);
    TMainForm& form = harness.Start();
    const auto image = MakeImage(2 * 2056);
    const auto path = WriteFile(harness.Dir.Path, "corvane-1.19.fwu", image);

    QStringList lines;
    int progress = -1;
    bool disabledWhileRunning = false;
    bool closed = false;
    TUpdateCommand command(form);
    command.Run(path, [&](TUpdateDialog* dialog) {
        QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
        disabledWhileRunning = !dialog->btnStart->isEnabled();
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->btnStart->text() == "Close"; }, 30000));
        lines = Lines(*dialog);
        progress = dialog->pb->value();
        EXPECT_TRUE(dialog->btnStart->isEnabled());
        QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
        closed = !dialog->isVisible();
    });
    const QStringList expected = {"Update file 'corvane-1.19.fwu' loaded",
                                  "Page count 2",
                                  "Press [Start] for update",
                                  "Entering bootloader",
                                  "Sending bootloader request",
                                  "Closing port",
                                  "Port opened",
                                  "Sending bootloader request",
                                  "Application area [08004000-0803FFFF]",
                                  "Flash page size 2048",
                                  "Programming page 0",
                                  "Programming page 1",
                                  "Done",
                                  "Resetting device",
                                  "Closing port",
                                  "Opening port"};
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(progress, 2);
    EXPECT_TRUE(disabledWhileRunning);
    EXPECT_TRUE(closed) << "Close closes the dialog";
    const std::vector<std::vector<std::uint8_t>> records = {{image.begin(), image.begin() + 2056},
                                                            {image.begin() + 2056, image.end()}};
    EXPECT_EQ(harness.Sim.ReceivedPages(), records);
    EXPECT_TRUE(form.Port().IsOpen());
    EXPECT_EQ(harness.Sim.Mode(), 3);
}

TEST(FirmwareUpdate, UpdateEndingWithThePortClosedDisablesWhatNeedsThePort)
{
    // The adapter is unplugged as it restarts: its port goes with the reset
    // request, the 6th after mode, identity, version, bootloader area and
    // the one page, and cannot be opened again. The sim does it on that
    // request, so no race with the update's pause before it reopens.
    // COM1 is the simulator's link, which goes with it: its terminal's
    // number may be another test's terminal by the time the update reopens.
    test::TScratchDir links;
    sim::TSimOptions options;
    options.LinkPath = (links.Path / "com1").string();
    TMainHarness harness(Scenario(1, {{"vanish_after", 6}}), options);
    ASSERT_TRUE(harness.Started);
    const test::TEnvPort com1(1, options.LinkPath);
    TMainForm& form = harness.Start();
    ASSERT_TRUE(form.cmFirmwareUpdate->isEnabled());
    const auto path = WriteFile(harness.Dir.Path, "one.fwu", MakeImage(2056));
    TUpdateCommand command(form);
    command.Run(path, [&](TUpdateDialog* dialog) {
        QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->btnStart->text() == "Close"; }, 30000));
        QTest::mouseClick(dialog->btnStart, Qt::LeftButton);
    });
    EXPECT_FALSE(form.Port().IsOpen());
    EXPECT_FALSE(form.cmFirmwareUpdate->isEnabled());
    EXPECT_FALSE(form.cmDeviceDetect->isEnabled());
    EXPECT_EQ(form.windowTitle(), "Corvane Programmer");
    for (const QLabel* panel : form.statusBar()->findChildren<QLabel*>())
        EXPECT_FALSE(panel->text().contains("Corvane JTAG") || panel->text().startsWith("v1."))
            << panel->text().toStdString();
}

class UpdateDialog : public ::testing::Test {
protected:
    void Start(const json& scenario, int pages)
    {
        Harness = std::make_unique<TMainHarness>(scenario);
        ASSERT_TRUE(Harness->Started);
        Form = &Harness->Start();
        Image = MakeImage(static_cast<std::size_t>(pages) * 2056);
        Dialog = std::make_unique<TUpdateDialog>(Form->Port(), Image, Form);
        Dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Dialog.get()));
        QTest::mouseClick(Dialog->btnStart, Qt::LeftButton);
    }
    bool WaitForEnd()
    {
        return QTest::qWaitFor([this] { return Dialog->btnStart->text() == "Close"; }, 30000);
    }

    std::unique_ptr<TMainHarness> Harness;
    TMainForm* Form = nullptr;
    std::vector<std::uint8_t> Image;
    std::unique_ptr<TUpdateDialog> Dialog;

    void TearDown() override
    {
        Dialog.reset();
        Harness.reset();
    }
};

TEST_F(UpdateDialog, CannotBeClosedWhileTheWorkerRuns)
{
    // The bootloader takes its time to answer, so the worker is surely running.
    Start(Scenario(1, {{"faults", {{{"command", 143}, {"kind", "delay"}, {"delay_ms", 1500}}}}}), 1);
    ASSERT_TRUE(QTest::qWaitFor([this] { return Harness->Sim.RequestCount(143) == 1; }, 5000));
    EXPECT_TRUE(Dialog->WorkerRunning());
    Dialog->close();
    EXPECT_TRUE(Dialog->isVisible()) << "close box";
    QTest::keyClick(Dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(Dialog->isVisible()) << "Esc";
    EXPECT_FALSE(Dialog->btnStart->isEnabled());

    ASSERT_TRUE(WaitForEnd());
    EXPECT_FALSE(Dialog->WorkerRunning());
    EXPECT_EQ(Lines(*Dialog).back(), "Opening port");
    QTest::mouseClick(Dialog->btnStart, Qt::LeftButton);
    EXPECT_FALSE(Dialog->isVisible());
    EXPECT_EQ(Dialog->result(), QDialog::Accepted);
}

TEST_F(UpdateDialog, RejectedPageEndsTheUpdateWithItsStatus)
{
    Start(Scenario(1, {{"bootloader", {{"page_status", {{"3", 6}}}}}}), 5);
    ASSERT_TRUE(WaitForEnd());
    const QStringList lines = Lines(*Dialog);
    const QStringList tail = lines.mid(lines.size() - 2);
    EXPECT_EQ(tail, (QStringList{"Programming page 3", "Failed (6: Bad CRC)"}));
    EXPECT_EQ(Dialog->pb->value(), 3);
    EXPECT_EQ(Dialog->pb->maximum(), 5);
    EXPECT_EQ(Harness->Sim.RequestCount(4), 0) << "no reset";
    EXPECT_TRUE(Form->Port().IsOpen());
}

} // namespace
} // namespace lindprog
