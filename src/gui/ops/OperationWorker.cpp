#include "gui/ops/OperationWorker.h"

#include <optional>

namespace lindprog {

TOperationWorker::TOperationWorker(TUiDispatcher& dispatcher, TLogSink& log, TPrompts& prompts, TRunView& runView,
                                   TConnectionView& connectionView)
    : Dispatcher(dispatcher), Log(log), Prompts(prompts), RunView(runView), ConnectionView(connectionView),
      UiThread(std::this_thread::get_id())
{
}

TOperationWorker::~TOperationWorker()
{
    Shutdown();
}

void TOperationWorker::Shutdown()
{
    Abandon();
    if (Thread.joinable())
        Thread.join();
}

bool TOperationWorker::Start(std::function<void()> job, std::function<void()> finished)
{
    if (Running.exchange(true))
        return false;
    // The last job has posted its end; its thread is gone or about to be.
    if (Thread.joinable())
        Thread.join();
    Stopping = Shared->Abandoned;
    Thread = std::thread([this, job = std::move(job), finished = std::move(finished)] {
        job();
        Dispatcher.Post([this, finished, shared = Shared] {
            {
                const std::lock_guard lock(shared->Mutex);
                if (shared->Abandoned)
                    return;
            }
            Running = false;
            if (finished)
                finished();
        });
    });
    return true;
}

void TOperationWorker::Cancel()
{
    {
        const std::lock_guard lock(Shared->Mutex);
        Stopping = true;
    }
    Shared->Changed.notify_all();
}

void TOperationWorker::Pause(std::chrono::milliseconds pause)
{
    std::unique_lock lock(Shared->Mutex);
    Shared->Changed.wait_for(lock, pause, [this] { return Stopping.load(); });
}

void TOperationWorker::Abandon()
{
    {
        const std::lock_guard lock(Shared->Mutex);
        Shared->Abandoned = true;
        Stopping = true;
    }
    Shared->Changed.notify_all();
}

void TOperationWorker::Tell(std::function<void()> call)
{
    if (OnUiThread())
        call();
    else
        Dispatcher.Post(std::move(call));
}

template <typename TResult>
TResult TOperationWorker::Ask(std::function<TResult()> ask, TResult whenAbandoned)
{
    if (OnUiThread())
        return ask();
    auto answer = std::make_shared<std::optional<TResult>>();
    Dispatcher.Post([ask = std::move(ask), answer, shared = Shared] {
        {
            const std::lock_guard lock(shared->Mutex);
            if (shared->Abandoned)
                return;
        }
        // Asked without the lock: a question box runs an event loop.
        TResult result = ask();
        {
            const std::lock_guard lock(shared->Mutex);
            *answer = std::move(result);
        }
        shared->Changed.notify_all();
    });
    std::unique_lock lock(Shared->Mutex);
    Shared->Changed.wait(lock, [&] { return answer->has_value() || Shared->Abandoned; });
    return answer->has_value() ? std::move(**answer) : whenAbandoned;
}

void TOperationWorker::AddLogLine(const std::string& text)
{
    Tell([this, text] { Log.AddLogLine(text); });
}

void TOperationWorker::ShowError(const std::string& text)
{
    Ask<bool>(
        [this, text] {
            Prompts.ShowError(text);
            return true;
        },
        false);
}

void TOperationWorker::ShowInfo(const std::string& text)
{
    Ask<bool>(
        [this, text] {
            Prompts.ShowInfo(text);
            return true;
        },
        false);
}

bool TOperationWorker::AskConfirm(const std::string& text)
{
    return Ask<bool>([this, text] { return Prompts.AskConfirm(text); }, false);
}

TAnswer TOperationWorker::AskConfirmButton(const std::string& text)
{
    // An abandoned question counts as "&No": the window is going away, the
    // operation must not go on.
    return Ask<TAnswer>([this, text] { return Prompts.AskConfirmButton(text); }, TAnswer::No);
}

TAnswer TOperationWorker::AskWarning(const std::string& text)
{
    return Ask<TAnswer>([this, text] { return Prompts.AskWarning(text); }, TAnswer::No);
}

void TOperationWorker::BufferReplaced()
{
    // Waits: the window copies the bytes while the worker leaves them alone.
    Ask<bool>(
        [this] {
            RunView.BufferReplaced();
            return true;
        },
        false);
}

void TOperationWorker::ShowSpeed(std::uint32_t bytesPerSecond)
{
    Tell([this, bytesPerSecond] { RunView.ShowSpeed(bytesPerSecond); });
}

void TOperationWorker::StageStarted(const TStageProgress& progress)
{
    Tell([this, progress] { RunView.StageStarted(progress); });
}

void TOperationWorker::StageProgress(const TStageProgress& progress)
{
    if (OnUiThread()) {
        RunView.StageProgress(progress);
        return;
    }
    {
        const std::lock_guard lock(Shared->Mutex);
        Shared->Progress = progress;
        if (Shared->ProgressPosted)
            return;
        Shared->ProgressPosted = true;
    }
    Dispatcher.Post([this, shared = Shared] {
        TStageProgress newest;
        {
            const std::lock_guard lock(shared->Mutex);
            shared->ProgressPosted = false;
            if (shared->Abandoned)
                return;
            newest = shared->Progress;
        }
        RunView.StageProgress(newest);
    });
}

void TOperationWorker::StageEnded(const TStageOutcome& outcome)
{
    Tell([this, outcome] { RunView.StageEnded(outcome); });
}

bool TOperationWorker::ResizeBuffer(std::uint32_t size)
{
    return Ask<bool>([this, size] { return ConnectionView.ResizeBuffer(size); }, false);
}

void TOperationWorker::ShowAdapter(const std::string& identity, const std::string& version)
{
    Tell([this, identity, version] { ConnectionView.ShowAdapter(identity, version); });
}

void TOperationWorker::ShowDevices(const std::vector<std::string>& names, int selected)
{
    Tell([this, names, selected] { ConnectionView.ShowDevices(names, selected); });
}

void TOperationWorker::ShowVoltages(const std::vector<TVoltageEntry>& entries, int selected)
{
    Tell([this, entries, selected] { ConnectionView.ShowVoltages(entries, selected); });
}

void TOperationWorker::ShowRegions(const std::vector<std::string>& names, int selected)
{
    Tell([this, names, selected] { ConnectionView.ShowRegions(names, selected); });
}

void TOperationWorker::ApplyActions(const TActionState& actions)
{
    Tell([this, actions] { ConnectionView.ApplyActions(actions); });
}

void TOperationWorker::ShowQuerying()
{
    Tell([this] { ConnectionView.ShowQuerying(); });
}

void TOperationWorker::ShowBusy(bool busy)
{
    // The busy cursor is for a window that cannot answer; this one can.
    if (OnUiThread())
        ConnectionView.ShowBusy(busy);
}

void TOperationWorker::ClearHintPanel()
{
    Tell([this] { ConnectionView.ClearHintPanel(); });
}

void TOperationWorker::SetCaption(const std::string& caption)
{
    Tell([this, caption] { ConnectionView.SetCaption(caption); });
}

void TOperationWorker::SetFirmwareUpdateEnabled(bool enabled)
{
    Tell([this, enabled] { ConnectionView.SetFirmwareUpdateEnabled(enabled); });
}

void TOperationWorker::FocusLog()
{
    Tell([this] { ConnectionView.FocusLog(); });
}

} // namespace lindprog
