#pragma once
// The window's operation worker: one thread that runs a job on the adapter
// (a plan on the runner, a connect attempt) while the window keeps painting
// and answering input.
//
// The runner and the connection are built over this object's faces (log,
// prompts, run view, connection view) rather than over the window's. A face
// called on the UI thread passes the call straight on; called on the worker,
// it hands the call to the UI thread through the dispatcher. Reports go as
// posts; questions, the buffer hand-over and ResizeBuffer wait for the UI
// thread's answer, so the worker never touches a widget or the window's
// buffer and the window never sees half a stage.
//
// Shutdown: Abandon() makes every wait for the UI thread return at once with
// "no" (or "none"), and stops the job at its next block; the destructor then
// joins. A job that waits for the adapter ends when the request ends.

#include "core/base/Prompts.h"
#include "core/base/UiDispatcher.h"
#include "core/ops/Connection.h"
#include "core/ops/OperationDriver.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace lindprog {

class TOperationWorker final : public TLogSink, public TPrompts, public TRunView, public TConnectionView {
public:
    // The UI thread is the one that builds the worker. Every reference must
    // outlive it; posted calls to them are dropped by the dispatcher once its
    // window is gone.
    TOperationWorker(TUiDispatcher& dispatcher, TLogSink& log, TPrompts& prompts, TRunView& runView,
                     TConnectionView& connectionView);
    ~TOperationWorker() override;
    TOperationWorker(const TOperationWorker&) = delete;
    TOperationWorker& operator=(const TOperationWorker&) = delete;

    // Runs job on the worker thread, then finished on the UI thread. False
    // (and nothing runs) while another job is under way.
    bool Start(std::function<void()> job, std::function<void()> finished);
    bool Busy() const { return Running.load(); }
    // Asks the job to stop at its next block; it still ends as a cancel does.
    void Cancel();
    bool CancelRequested() const { return Stopping.load(); }
    // For the job: waits up to pause, less when Cancel comes first.
    void Pause(std::chrono::milliseconds pause);
    // Cancels and releases every wait for the UI thread, for good.
    void Abandon();
    // Abandons and waits for the thread to end.
    void Shutdown();

    // TLogSink
    void AddLogLine(const std::string& text) override;
    // TPrompts
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override;
    bool AskConfirm(const std::string& text) override;
    TAnswer AskConfirmButton(const std::string& text) override;
    TAnswer AskWarning(const std::string& text) override;
    // TRunView
    void BufferReplaced() override;
    void ShowSpeed(std::uint32_t bytesPerSecond) override;
    void StageStarted(const TStageProgress& progress) override;
    void StageProgress(const TStageProgress& progress) override;
    void StageEnded(const TStageOutcome& outcome) override;
    // TConnectionView
    bool ResizeBuffer(std::uint32_t size) override;
    void ShowAdapter(const std::string& identity, const std::string& version) override;
    void ShowDevices(const std::vector<std::string>& names, int selected) override;
    void ShowVoltages(const std::vector<TVoltageEntry>& entries, int selected) override;
    void ShowRegions(const std::vector<std::string>& names, int selected) override;
    void ApplyActions(const TActionState& actions) override;
    void ShowQuerying() override;
    void ShowBusy(bool busy) override;
    void ClearHintPanel() override;
    void SetCaption(const std::string& caption) override;
    void SetFirmwareUpdateEnabled(bool enabled) override;
    void FocusLog() override;

private:
    // What the posted calls share with the worker; it outlives both.
    struct TShared {
        std::mutex Mutex;
        std::condition_variable Changed;
        bool Abandoned = false;
        // Progress reports come after every block: only the newest waits.
        bool ProgressPosted = false;
        TStageProgress Progress;
    };

    bool OnUiThread() const { return std::this_thread::get_id() == UiThread; }
    // Runs call on the UI thread: at once there, else posted.
    void Tell(std::function<void()> call);
    // Runs ask on the UI thread and waits for its answer; whenAbandoned
    // without asking once the worker is abandoned.
    template <typename TResult>
    TResult Ask(std::function<TResult()> ask, TResult whenAbandoned);

    TUiDispatcher& Dispatcher;
    TLogSink& Log;
    TPrompts& Prompts;
    TRunView& RunView;
    TConnectionView& ConnectionView;
    const std::thread::id UiThread;
    std::shared_ptr<TShared> Shared = std::make_shared<TShared>();
    std::atomic<bool> Running{false};
    std::atomic<bool> Stopping{false};
    std::thread Thread;
};

} // namespace lindprog
