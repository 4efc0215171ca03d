#include "gui/link/DemoAdapter.h"
#include "gui/link/SelectPortD.h"
#include "gui/main/LogView.h"
#include "support/MainHarness.h"
#include "support/Modal.h"

#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace lindprog {
namespace {

namespace fs = std::filesystem;
using test::TEnvPort;
using test::TMainHarness;
using test::TModalAnswer;
using test::TScratchDir;
using test::TSimPty;

// Every caption the window shows, in order.
class TCaptionLog final : public QObject {
public:
    explicit TCaptionLog(QWidget* window) : Window(window) { window->installEventFilter(this); }
    std::vector<QString> Captions;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == Window && event->type() == QEvent::WindowTitleChange)
            Captions.push_back(Window->windowTitle());
        return false;
    }

private:
    QWidget* Window;
};

TEST(SelectPortDialog, Layout)
{
    TEnvPort::ClearAll();
    TScratchDir dir;
    TPortNames names(dir.Path / "ports.conf", dir.Path / "dev");
    TSelectPortDialog dialog(names, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Select port");
    EXPECT_EQ(dialog.size(), QSize(312, 128));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "fixed border";
    EXPECT_EQ(dialog.Label1->text(), "Serial ports:");
    EXPECT_TRUE(dialog.mError->text().isEmpty());
    EXPECT_FALSE(dialog.cb->isEditable());
    EXPECT_EQ(dialog.btnOk->text(), "Open");
    EXPECT_TRUE(dialog.btnOk->isDefault());
    EXPECT_EQ(dialog.btnCancel->text(), "Cancel");
}

TEST(SelectPortDialog, NoPortsGivesAnEmptyListAndNoOpen)
{
    TEnvPort::ClearAll();
    TScratchDir dir;
    fs::create_directories(dir.Path / "dev");
    TPortNames names(dir.Path / "ports.conf", dir.Path / "dev");
    TSelectPortDialog dialog(names, nullptr);
    EXPECT_EQ(dialog.cb->count(), 0);
    EXPECT_FALSE(dialog.btnOk->isEnabled());
    EXPECT_EQ(dialog.SelectedPort(), 0);

    dialog.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible()) << "Enter must not open without a port";
    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(SelectPortDialog, ListsSystemAndMappedPortsWithNumberAndPath)
{
    TEnvPort::ClearAll();
    TScratchDir dir;
    const fs::path dev = dir.Path / "dev";
    fs::create_directories(dev / "serial" / "by-id");
    const fs::path sys = dir.Path / "sys" / "class" / "tty";
    for (const char* name : {"ttyUSB0", "ttyACM0"}) {
        std::ofstream(dev / name) << "";
        // The system knows it as a port with hardware behind it.
        fs::create_directories(sys / name / "device");
    }
    fs::create_symlink(dev / "ttyUSB0", dev / "serial" / "by-id" / "usb-Corvane_Programmer_A1-if00-port0");
    TEnvPort mapped(5, "/tmp/corvane");
    TPortNames names(dir.Path / "ports.conf", dev, sys);

    TSelectPortDialog dialog(names, nullptr);
    ASSERT_EQ(dialog.cb->count(), 3);
    EXPECT_EQ(dialog.cb->itemText(0),
              QString("usb-Corvane_Programmer_A1-if00-port0 (COM1, %1)").arg((dev / "ttyUSB0").c_str()));
    EXPECT_EQ(dialog.cb->itemText(1), QString("ttyACM0 (COM2, %1)").arg((dev / "ttyACM0").c_str()));
    EXPECT_EQ(dialog.cb->itemText(2), "Mapped by LINDPROG_COM5 (COM5, /tmp/corvane)");
    EXPECT_EQ(dialog.cb->currentIndex(), 0) << "the first entry is selected";
    EXPECT_EQ(dialog.SelectedPort(), 1);
    EXPECT_TRUE(dialog.btnOk->isEnabled());

    dialog.SelectPort(5);
    EXPECT_EQ(dialog.SelectedPort(), 5);
    dialog.SelectPort(17); // not listed: the selection stays
    EXPECT_EQ(dialog.SelectedPort(), 5);
}

TEST(SelectPortDialog, EntryTextPrefersTheSystemsDescription)
{
    const TPortEntry usb{3, "/dev/serial/by-id/usb-FTDI_FT232R-if00-port0", "/dev/ttyUSB0", false};
    EXPECT_EQ(PortEntryText(usb, "FT232R USB UART"), "FT232R USB UART (COM3, /dev/ttyUSB0)");
    EXPECT_EQ(PortEntryText(usb, ""), "usb-FTDI_FT232R-if00-port0 (COM3, /dev/ttyUSB0)");
    const TPortEntry plain{17, "/dev/ttyS1", "/dev/ttyS1", false};
    EXPECT_EQ(PortEntryText(plain, ""), "ttyS1 (COM17, /dev/ttyS1)");
}

class OptionsPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        TEnvPort::ClearAll();
        Second = std::make_unique<TSimPty>(test::AdapterScenario(), 2); // beside the harness's COM1
        Harness = std::make_unique<TMainHarness>();
        ASSERT_TRUE(Harness->Started);
        ASSERT_TRUE(Second->Started);
    }
    void TearDown() override
    {
        Harness.reset();
        Second.reset();
    }

    // Runs the command; the dialog is handed to `act` while it is up, with
    // the test's list of ports in place of the system's.
    void RunCommand(TPortNames& names, std::function<void(TSelectPortDialog*)> act)
    {
        TMainForm& form = *Harness->Form;
        const TModalAnswer<TSelectPortDialog> answer([&, act = std::move(act)](TSelectPortDialog* dialog) {
            TSelectPortDialog listed(names, nullptr);
            dialog->cb->clear();
            for (int item = 0; item < listed.cb->count(); ++item)
                dialog->cb->addItem(listed.cb->itemText(item), listed.cb->itemData(item));
            dialog->SelectPort(form.Settings().SerialPort);
            act(dialog);
        });
        form.cmOptionsPort->trigger();
        Harness->WaitForWorker();
    }
    TPortNames Names() { return TPortNames(Harness->Dir.Path / "ports.conf", Harness->Dir.Path / "dev"); }

    std::unique_ptr<TSimPty> Second;
    std::unique_ptr<TMainHarness> Harness;
};

TEST_F(OptionsPort, CurrentPortIsPreselectedAndOpenOnAnotherReconnectsThere)
{
    Harness->Preset("SerialPort", 2);
    TMainForm& form = Harness->Start();
    ASSERT_EQ(form.windowTitle(), "Corvane Programmer - [COM2]");
    TCaptionLog captions(&form);
    auto names = Names();

    int preselected = 0;
    RunCommand(names, [&](TSelectPortDialog* dialog) {
        preselected = dialog->SelectedPort();
        dialog->SelectPort(1);
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    EXPECT_EQ(preselected, 2);
    EXPECT_EQ(form.Settings().SerialPort, 1);
    // Disconnected first, then connected on the new port.
    ASSERT_GE(captions.Captions.size(), 2u);
    EXPECT_EQ(captions.Captions.front(), "Corvane Programmer");
    EXPECT_EQ(captions.Captions.back(), "Corvane Programmer - [COM1]");
    EXPECT_TRUE(form.Port().IsOpen());
    EXPECT_EQ(form.Port().PortNumber(), 1);
    EXPECT_TRUE(Second->Sim.WaitForHostClosed(std::chrono::seconds(5))) << "the old port is closed";
    EXPECT_EQ(form.cbDevice->currentText(), "SPC560B50") << "the adapter was identified anew";
    EXPECT_EQ(Harness->Stored("SerialPort"), "2") << "stored only when the program ends";
    Harness->Stop();
    EXPECT_EQ(Harness->Stored("SerialPort"), "1");
}

TEST_F(OptionsPort, OpenOnTheSamePortReconnects)
{
    TMainForm& form = Harness->Start();
    ASSERT_TRUE(Harness->Sim.WaitForHostOpens(1, std::chrono::seconds(5)));
    ASSERT_EQ(Harness->Sim.HostOpenCount(), 1);
    TCaptionLog captions(&form);
    auto names = Names();
    RunCommand(names, [](TSelectPortDialog* dialog) {
        EXPECT_EQ(dialog->SelectedPort(), 1);
        QTest::keyClick(dialog, Qt::Key_Return);
    });
    EXPECT_TRUE(Harness->Sim.WaitForHostOpens(2, std::chrono::seconds(5)));
    const std::vector<QString> expected = {"Corvane Programmer", "Corvane Programmer - [COM1]"};
    EXPECT_EQ(captions.Captions, expected);
    EXPECT_EQ(form.Settings().SerialPort, 1);
}

TEST_F(OptionsPort, CancelChangesNothing)
{
    TMainForm& form = Harness->Start();
    ASSERT_TRUE(Harness->Sim.WaitForHostOpens(1, std::chrono::seconds(5)));
    const auto requests = Harness->Sim.RequestTotal();
    TCaptionLog captions(&form);
    auto names = Names();
    RunCommand(names, [](TSelectPortDialog* dialog) {
        dialog->SelectPort(2);
        QTest::mouseClick(dialog->btnCancel, Qt::LeftButton);
    });
    EXPECT_EQ(form.Settings().SerialPort, 1);
    EXPECT_TRUE(captions.Captions.empty());
    EXPECT_EQ(Harness->Sim.HostOpenCount(), 1);
    EXPECT_EQ(Harness->Sim.RequestTotal(), requests);
    EXPECT_EQ(Second->Sim.HostOpenCount(), 0);
    EXPECT_TRUE(form.Port().IsOpen());
}

TEST_F(OptionsPort, StoredPortNotListedSelectsTheFirst)
{
    Harness->Preset("SerialPort", 9);
    TMainForm& form = Harness->Start();
    EXPECT_TRUE(Harness->Prompts.Texts().empty()) << "at start the window says it in its panel";
    EXPECT_EQ(form.PanelText(1), "No adapter on COM9 \u2014 Options > Port...");
    auto names = Names();
    int preselected = 0;
    RunCommand(names, [&](TSelectPortDialog* dialog) {
        preselected = dialog->SelectedPort();
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    EXPECT_EQ(preselected, 1);
    EXPECT_EQ(form.Settings().SerialPort, 1);
    EXPECT_EQ(form.windowTitle(), "Corvane Programmer - [COM1]");
}

// The build's simulator sits where an installed one would for these tests:
// Options > Port offers it, runs it as the window's child and connects to it.
TEST(OptionsPortDemo, SimulatedAdapterIsOfferedStartedAndConnected)
{
    ASSERT_FALSE(TDemoAdapter::SimulatorPath().isEmpty());
    TMainHarness harness;
    TMainForm& form = harness.Start();
    const TModalAnswer<TSelectPortDialog> answer([](TSelectPortDialog* dialog) {
        const int demo = dialog->cb->findText(TSelectPortDialog::DemoText);
        EXPECT_EQ(demo, dialog->cb->count() - 1) << "the last entry";
        dialog->cb->setCurrentIndex(demo);
        QTest::mouseClick(dialog->btnOk, Qt::LeftButton);
    });
    form.cmOptionsPort->trigger();
    harness.WaitForWorker();
    EXPECT_TRUE(harness.Prompts.Seen.empty()) << harness.Prompts.Texts().front();
    EXPECT_EQ(form.PanelText(1), "Corvane JTAG/Nexus Programmer");
    EXPECT_EQ(form.Settings().SerialPort, 1) << "the stored port stays";
}

// Takes away, for this thread, root's power to open files regardless of their
// permission bits, so a port without access fails as it does for a user.
class TWithoutFileOverride {
public:
    TWithoutFileOverride()
    {
        if (::syscall(SYS_capget, &Header, Saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {Saved[0], Saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        Dropped = ::syscall(SYS_capset, &Header, reduced) == 0;
    }
    ~TWithoutFileOverride()
    {
        if (Dropped)
            ::syscall(SYS_capset, &Header, Saved);
    }

private:
    __user_cap_header_struct Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct Saved[2]{};
    bool Dropped = false;
};

std::vector<std::string> LogMessages(TMainForm& form)
{
    std::vector<std::string> lines;
    for (int row = 0; row < form.Log().topLevelItemCount(); ++row)
        lines.push_back(form.Log().MessageAt(row).toStdString());
    return lines;
}

TEST(PortPermissions, RefusedPortSaysWhyAndHowToFixIt)
{
    TEnvPort::ClearAll();
    TMainHarness harness;
    const fs::path device = harness.Dir.Path / "ttyUSB7";
    std::ofstream(device) << "";
    ::chmod(device.c_str(), 0);
    TEnvPort mapped(3, device.string());
    harness.Preset("SerialPort", 3);
    {
        TWithoutFileOverride asUser;
        // access() would judge root by its permitted powers; a real open tells.
        if (const int fd = ::open(device.c_str(), O_RDWR | O_CLOEXEC); fd >= 0) {
            ::close(fd);
            GTEST_SKIP() << "this process opens every file whatever its permissions";
        }
        harness.Start();
    }
    EXPECT_TRUE(harness.Prompts.Texts().empty()) << "at start the window says it in its panel";
    const auto lines = LogMessages(*harness.Form);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], "No adapter on COM3 \u2014 Options > Port...");
    EXPECT_EQ(lines[0], OpenFailureAdvice(3, std::strerror(EACCES)));
    EXPECT_NE(lines[0].find("COM3: Permission denied"), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("dialout"), std::string::npos) << lines[0];
}

TEST(PortPermissions, OtherOpenFailuresGiveNoAdvice)
{
    TEnvPort::ClearAll();
    TMainHarness harness;
    TEnvPort mapped(4, (harness.Dir.Path / "absent").string());
    harness.Preset("SerialPort", 4);
    TMainForm& form = harness.Start();
    EXPECT_TRUE(harness.Prompts.Texts().empty());
    EXPECT_EQ(LogMessages(form), std::vector<std::string>{"No adapter on COM4 \u2014 Options > Port..."});
    EXPECT_TRUE(OpenFailureAdvice(4, std::strerror(ENOENT)).empty());
    EXPECT_TRUE(OpenFailureAdvice(4, "port is in use by another program").empty());
    EXPECT_TRUE(OpenFailureAdvice(4, "").empty());
}

} // namespace
} // namespace lindprog
