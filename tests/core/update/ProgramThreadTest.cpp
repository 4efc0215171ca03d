#include "core/update/ProgramThread.h"

#include "support/RecordingClock.h"
#include "support/SimLink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

namespace lindprog {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::TRecordingClock;
using test::TSimLink;

// The dialog's side, run by the test thread as the UI thread.
class TRecordingView final : public TUpdateView {
public:
    std::vector<std::string> Lines;
    std::vector<int> Progress;
    bool AllOnUiThread = true;
    std::thread::id UiThread = std::this_thread::get_id();

    void AddLine(const std::string& text) override
    {
        AllOnUiThread = AllOnUiThread && std::this_thread::get_id() == UiThread;
        Lines.push_back(text);
    }
    void SetProgress(int position) override
    {
        AllOnUiThread = AllOnUiThread && std::this_thread::get_id() == UiThread;
        Progress.push_back(position);
    }
};

std::vector<std::uint8_t> MakeImage(int pages)
{
    std::vector<std::uint8_t> image(static_cast<std::size_t>(pages) * 2056);
    for (std::size_t offset = 0; offset < image.size(); ++offset)
        image[offset] = static_cast<std::uint8_t>(offset * 13 + offset / 2056 + 1);
    return image;
}

std::vector<std::vector<std::uint8_t>> Records(const std::vector<std::uint8_t>& image, int count)
{
    std::vector<std::vector<std::uint8_t>> records;
    for (int page = 0; page < count; ++page)
        records.emplace_back(image.begin() + page * 2056, image.begin() + (page + 1) * 2056);
    return records;
}

json Scenario(int mode, const json& bootloader = json::object())
{
    json scenario = test::BaseScenario();
    scenario["mode"] = mode;
    if (!bootloader.empty())
        scenario["bootloader"] = bootloader;
    return scenario;
}

class ProgramThreadTest : public ::testing::Test {
protected:
    // Runs one update to its end, running the worker's dialog changes on this
    // thread as the UI thread would.
    void RunUpdate(TSimLink& link, const std::vector<std::uint8_t>& image, TUpdateClock& clock)
    {
        ASSERT_TRUE(link.Started) << link.Sim.LastError();
        ASSERT_TRUE(link.Open());
        bool done = false;
        std::size_t linesAtDone = 0;
        TProgramThread worker(link.Port, link.Dispatcher, View, image, clock);
        worker.SetOnDone([&] {
            done = true;
            linesAtDone = View.Lines.size();
        });
        worker.Start();
        const auto bound = std::chrono::steady_clock::now() + 60s;
        while (!done && std::chrono::steady_clock::now() < bound)
            link.Dispatcher.WaitAndRun(100ms);
        ASSERT_TRUE(done) << "the worker did not end";
        EXPECT_EQ(linesAtDone, View.Lines.size()) << "a line came after the end";
        EXPECT_TRUE(View.AllOnUiThread);
    }

    TRecordingView View;
    TRecordingClock Clock;
};

const std::vector<std::string> ApplicationModeStart = {
    "Entering bootloader",        "Sending bootloader request",           "Closing port",        "Port opened",
    "Sending bootloader request", "Application area [08004000-0803FFFF]", "Flash page size 2048"};
const std::vector<std::string> RestartLines = {"Done", "Resetting device", "Closing port", "Opening port"};

std::vector<std::string> Concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(ProgramThreadTest, FullUpdateFromApplicationMode)
{
    TSimLink link(Scenario(3));
    const auto image = MakeImage(3);
    RunUpdate(link, image, Clock);

    const auto expected = Concat(
        Concat(ApplicationModeStart, {"Programming page 0", "Programming page 1", "Programming page 2"}), RestartLines);
    EXPECT_EQ(View.Lines, expected);
    EXPECT_EQ(View.Progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(link.Sim.ReceivedPages(), Records(image, 3)) << "every record unchanged and in order";
    EXPECT_EQ(Clock.Recorded(), (std::vector<std::chrono::milliseconds>{1000ms, 100ms, 100ms, 100ms, 2000ms}));
    EXPECT_EQ(link.Sim.RequestCount(143), 2);
    EXPECT_EQ(link.Sim.RequestCount(4), 1);
    EXPECT_EQ(link.Sim.Mode(), 3) << "the reset brought the application back";
    EXPECT_TRUE(link.Port.IsOpen()) << "open again on the same port";
    EXPECT_EQ(link.Port.PortNumber(), 1);
    EXPECT_TRUE(link.Port.GetMode());
    EXPECT_EQ(link.Port.Mode(), 3);
}

TEST_F(ProgramThreadTest, AdapterAlreadyInItsBootloader)
{
    TSimLink link(Scenario(1, {{"app_start", "0x00010000"}, {"app_end", "0x0001FFFF"}, {"page_size", 256}}));
    const auto image = MakeImage(2);
    RunUpdate(link, image, Clock);

    const std::vector<std::string> expected = {"Entering bootloader",
                                               "Sending bootloader request",
                                               "Application area [00010000-0001FFFF]",
                                               "Flash page size 256",
                                               "Programming page 0",
                                               "Programming page 1",
                                               "Done",
                                               "Resetting device",
                                               "Closing port",
                                               "Opening port"};
    EXPECT_EQ(View.Lines, expected);
    EXPECT_EQ(Clock.Recorded(), (std::vector<std::chrono::milliseconds>{100ms, 100ms, 2000ms}));
    // The simulator notices opens on its own thread: wait for the restart's.
    EXPECT_TRUE(link.Sim.WaitForHostOpens(2, 5s));
    EXPECT_EQ(link.Sim.HostOpenCount(), 2) << "the port was reopened only for the restart";
}

TEST_F(ProgramThreadTest, OnePageRecord)
{
    TSimLink link(Scenario(1));
    const auto image = MakeImage(1);
    RunUpdate(link, image, Clock);
    EXPECT_EQ(std::count(View.Lines.begin(), View.Lines.end(), "Programming page 0"), 1);
    EXPECT_EQ(std::count_if(View.Lines.begin(), View.Lines.end(),
                            [](const std::string& line) { return line.starts_with("Programming page"); }),
              1);
    EXPECT_EQ(View.Progress, (std::vector<int>{1}));
    EXPECT_EQ(View.Lines.back(), "Opening port");
    EXPECT_EQ(link.Sim.ReceivedPages(), Records(image, 1));
}

TEST_F(ProgramThreadTest, RejectedPageStopsTheUpdateWithoutReset)
{
    TSimLink link(Scenario(3, {{"page_status", {{"3", 6}}}}));
    const auto image = MakeImage(6);
    RunUpdate(link, image, Clock);

    ASSERT_GE(View.Lines.size(), 2u);
    EXPECT_EQ(View.Lines[View.Lines.size() - 2], "Programming page 3");
    EXPECT_EQ(View.Lines.back(), "Failed (6: Bad CRC)");
    EXPECT_EQ(View.Progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(link.Sim.RequestCount(34), 4) << "the records after the rejected one are not sent";
    EXPECT_EQ(link.Sim.RequestCount(4), 0) << "no reset";
    EXPECT_EQ(link.Sim.ReceivedPages(), Records(image, 3));
    EXPECT_TRUE(link.Port.IsOpen()) << "the port stays open";
}

// Real timings: the reply wait of 5000 ms and the window of 10,000 ms give
// two attempts, then the failure with the status of the last one.
TEST_F(ProgramThreadTest, AdapterThatNeverAnswersFailsAfterTheWindow)
{
    json scenario = Scenario(3);
    scenario["faults"] = {{{"kind", "no_answer"}, {"times", -1}}};
    TSimLink link(scenario);
    const auto started = std::chrono::steady_clock::now();
    RunUpdate(link, MakeImage(2), SystemClock());
    const auto elapsed = std::chrono::steady_clock::now() - started;

    const std::vector<std::string> expected = {"Entering bootloader", "Sending bootloader request",
                                               "Sending bootloader request", "Failed (255: No answer)"};
    EXPECT_EQ(View.Lines, expected);
    EXPECT_EQ(link.Sim.RequestCount(143), 2);
    EXPECT_EQ(link.Sim.RequestCount(34), 0) << "no page sent";
    EXPECT_GE(elapsed, TProgramThread::BootloaderWindow);
    EXPECT_TRUE(View.Progress.empty());
}

// The port vanishing as the bootloader is asked for: the worker keeps trying
// to open it for the window, with a pause between attempts, and says why it
// failed.
TEST_F(ProgramThreadTest, PortVanishingWhileEnteringTheBootloaderIsRetriedWithPauses)
{
    json scenario = Scenario(3);
    scenario["vanish_after"] = 1;
    TSimLink link(scenario);
    const auto started = std::chrono::steady_clock::now();
    RunUpdate(link, MakeImage(2), Clock);

    const auto pauses = Clock.Recorded();
    const auto retries = std::count(pauses.begin(), pauses.end(), TProgramThread::OpenRetryPause);
    EXPECT_GE(retries, 10) << "the window is spent in paced attempts";
    EXPECT_LE(retries, TProgramThread::BootloaderWindow / TProgramThread::OpenRetryPause + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the pauses are the clock's, not spinning";
    ASSERT_FALSE(View.Lines.empty());
    EXPECT_EQ(View.Lines.back().rfind("Failed (", 0), 0u);
    EXPECT_NE(View.Lines.back().find(": "), std::string::npos) << View.Lines.back();
}

// Real timings for the whole update: the pauses of 1000 ms after "Not ready",
// 100 ms before each record and 2000 ms before reopening are really waited.
TEST_F(ProgramThreadTest, FullUpdateWithRealPauses)
{
    TSimLink link(Scenario(3));
    const auto image = MakeImage(2);
    const auto started = std::chrono::steady_clock::now();
    RunUpdate(link, image, SystemClock());
    const auto elapsed = std::chrono::steady_clock::now() - started;

    const auto expected =
        Concat(Concat(ApplicationModeStart, {"Programming page 0", "Programming page 1"}), RestartLines);
    EXPECT_EQ(View.Lines, expected);
    EXPECT_EQ(link.Sim.ReceivedPages(), Records(image, 2));
    EXPECT_GE(elapsed, 1000ms + 2 * 100ms + 2000ms);
}

TEST_F(ProgramThreadTest, WorkerWaitsForEachDialogChange)
{
    TSimLink link(Scenario(1));
    ASSERT_TRUE(link.Open());
    const auto image = MakeImage(1);
    TProgramThread worker(link.Port, link.Dispatcher, View, image, Clock);
    worker.Start();
    // The first line is posted; until it has been shown nothing is sent.
    ASSERT_TRUE(link.Dispatcher.WaitForPosted(5s));
    EXPECT_FALSE(link.Sim.WaitForRequests(1, 300ms)) << "the worker went on before its line was shown";
    EXPECT_EQ(link.Dispatcher.RunPending(), 1);
    EXPECT_EQ(View.Lines, (std::vector<std::string>{"Entering bootloader"}));
    ASSERT_TRUE(link.Dispatcher.WaitForPosted(5s));
    EXPECT_EQ(link.Dispatcher.RunPending(), 1);
    EXPECT_EQ(View.Lines.back(), "Sending bootloader request");
    EXPECT_TRUE(link.Sim.WaitForRequests(1, 5s));
    // The rest runs to its end.
    bool done = false;
    worker.SetOnDone([&] { done = true; });
    const auto bound = std::chrono::steady_clock::now() + 30s;
    while (!done && std::chrono::steady_clock::now() < bound)
        link.Dispatcher.WaitAndRun(100ms);
    EXPECT_TRUE(done);
}

TEST_F(ProgramThreadTest, WorkerGoneBeforeItsChangesRunLeavesTheViewAlone)
{
    TSimLink link(Scenario(1));
    ASSERT_TRUE(link.Open());
    const auto image = MakeImage(4);
    {
        TProgramThread worker(link.Port, link.Dispatcher, View, image, Clock);
        worker.SetOnDone([this] { View.Lines.push_back("done"); });
        worker.Start();
        ASSERT_TRUE(link.Dispatcher.WaitForPosted(5s));
        // Destroyed while it waits for its first line: it stops and is joined.
    }
    link.Dispatcher.RunPending();
    EXPECT_TRUE(View.Lines.empty());
    EXPECT_EQ(link.Sim.RequestCount(34), 0);
}

} // namespace
} // namespace lindprog
