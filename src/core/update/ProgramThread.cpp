#include "core/update/ProgramThread.h"

#include "core/base/UiDispatcher.h"
#include "core/link/AdapterCommands.h"
#include "core/link/DevicePort.h"
#include "core/update/FirmwareImage.h"

#include <cstdio>

namespace lindprog {

namespace {

class TSystemClock final : public TUpdateClock {
public:
    std::chrono::steady_clock::time_point Now() const override { return std::chrono::steady_clock::now(); }
    void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }
};

std::string Line(const char* format, auto... values)
{
    char text[64];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

} // namespace

TUpdateClock& SystemClock()
{
    static TSystemClock clock;
    return clock;
}

TProgramThread::TProgramThread(TDevicePort& port, TUiDispatcher& dispatcher, TUpdateView& view,
                               std::span<const std::uint8_t> image, TUpdateClock& clock)
    : Port(port), Dispatcher(dispatcher), View(view), Image(image), Clock(clock),
      Alive(std::make_shared<TProgramThread*>(this)), AliveToken(Alive)
{
}

TProgramThread::~TProgramThread()
{
    {
        std::lock_guard lock(Mutex);
        Abandon = true;
    }
    ChangeDone.notify_all();
    Alive.reset();
    if (Thread.joinable())
        Thread.join();
}

void TProgramThread::Start()
{
    Thread = std::thread([this] {
        Execute();
        std::weak_ptr<TProgramThread*> alive = AliveToken;
        Dispatcher.Post([alive] {
            if (auto self = alive.lock(); self && (*self)->OnDone)
                (*self)->OnDone();
        });
    });
}

void TProgramThread::Execute()
{
    const int pageCount = TFirmwareImage::PageCountOf(Image.size());
    NextPage = 0;
    if (!StartBootloader()) {
        AddLine(FailedLine());
        return;
    }
    bool accepted = true;
    for (int page = 0; page < pageCount && !Abandoned(); ++page) {
        Clock.Sleep(PagePause);
        accepted = SendPage(page);
        if (!accepted)
            break;
        SetProgress(page + 1);
    }
    if (accepted && !Abandoned()) {
        AddLine("Done");
        RestartAdapter();
        Success = true;
    } else {
        AddLine(FailedLine());
    }
}

bool TProgramThread::StartBootloader()
{
    PortNumber = Port.PortNumber();
    AddLine("Entering bootloader");
    const auto deadline = Clock.Now() + BootloaderWindow;
    // The deadline is looked at only when an attempt begins: one begun just
    // before it may still wait out its reply and a pause.
    while (Clock.Now() < deadline && !Abandoned()) {
        // A port that went away is reopened here at once; the UI thread
        // may not have closed it yet.
        if ((!Port.IsOpen() || Port.Vanished()) && Port.Open(PortNumber))
            AddLine("Port opened");
        if (!Port.IsOpen()) {
            // A port that went away may come back (a replug); asking the
            // system for it without a pause would burn a core for the window.
            Clock.Sleep(OpenRetryPause);
            continue;
        }
        AddLine("Sending bootloader request");
        const TReply<TBootloaderArea> area = Port.EnterBootloader();
        if (area.Status == PortStatus::NotReady) {
            // The adapter restarts into its bootloader; it answers there once
            // the port has been closed and opened again.
            AddLine("Closing port");
            Port.Close();
            Clock.Sleep(NotReadyPause);
            continue;
        }
        // A reply too short for the area is a failed attempt like any other.
        if (!area.Ok())
            continue;
        AppStart = area.Value.Start;
        AppEnd = area.Value.End;
        AddLine(Line("Application area [%.08X-%.08X]", AppStart, AppEnd));
        AddLine(Line("Flash page size %d", area.Value.PageSize));
        return true;
    }
    return false;
}

bool TProgramThread::SendPage(int page)
{
    AddLine(Line("Programming page %d", page));
    const bool result = Port.ProgramPage(Image.subspan(NextPage, FirmwarePageSize));
    NextPage += FirmwarePageSize;
    return result;
}

void TProgramThread::RestartAdapter()
{
    AddLine("Resetting device");
    Port.ResetAdapter();
    AddLine("Closing port");
    Port.Close();
    Clock.Sleep(RestartPause);
    AddLine("Opening port");
    Port.Open(PortNumber);
}

std::string TProgramThread::FailedLine() const
{
    // The code as the adapter's users know it, and what it means.
    const std::uint8_t status = Port.Status();
    return Line("Failed (%d: ", status) + TDevicePort::StatusToText(status) + ")";
}

void TProgramThread::AddLine(const std::string& text)
{
    RunOnUi([this, text] { View.AddLine(text); });
}

void TProgramThread::SetProgress(int position)
{
    RunOnUi([this, position] { View.SetProgress(position); });
}

void TProgramThread::RunOnUi(std::function<void()> change)
{
    const std::uint64_t ticket = ++Issued;
    std::weak_ptr<TProgramThread*> alive = AliveToken;
    Dispatcher.Post([alive, ticket, change = std::move(change)] {
        const auto self = alive.lock();
        if (!self)
            return;
        change();
        TProgramThread& worker = **self;
        {
            std::lock_guard lock(worker.Mutex);
            worker.Completed = ticket;
        }
        worker.ChangeDone.notify_all();
    });
    std::unique_lock lock(Mutex);
    ChangeDone.wait(lock, [this, ticket] { return Completed >= ticket || Abandon; });
}

bool TProgramThread::Abandoned() const
{
    std::lock_guard lock(Mutex);
    return Abandon;
}

} // namespace lindprog
