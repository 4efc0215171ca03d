#pragma once
// The connection and the operation driver against a simulator, without a
// window: a view that records what the window would show and answers its
// questions from a script, and a rig that paces the driver the way the
// progress dialog and the stage timer do.

#include "core/ops/Connection.h"
#include "core/ops/OperationDriver.h"
#include "core/settings/Settings.h"
#include "support/ScriptedPrompts.h"
#include "support/SimLink.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace lindprog::test {

// Questions are answered by TScriptedPrompts: Answers in, Seen out.
class TOpsView final : public TLogSink, public TScriptedPrompts, public TDriverView, public TConnectionView {
public:
    // TLogSink, and the connection's log line.
    void AddLogLine(const std::string& text) override { Log.push_back(text); }

    // TDriverView
    void AcceptBuffer() override { ++BufferAccepted; }
    void ShowSpeed(std::uint32_t bytesPerSecond) override { Speeds.push_back(bytesPerSecond); }
    void ScheduleNextStage() override
    {
        StagePending = true;
        ++StagesScheduled;
    }

    // TConnectionView
    void ShowQuerying() override { HintPanel = "Quering device, please wait..."; }
    void ClearHintPanel() override { HintPanel.clear(); }
    void ShowAdapter(const std::string& identity, const std::string& version) override
    {
        Identity = identity;
        Version = version;
    }
    void SetCaption(const std::string& caption) override
    {
        Caption = caption;
        Captions.push_back(caption);
    }
    void ShowDevices(const std::vector<std::string>& names, int selected) override
    {
        DeviceNames = names;
        DeviceSelected = selected;
    }
    void ShowVoltages(const std::vector<TVoltageEntry>& entries, int selected) override
    {
        VoltageTexts.clear();
        for (const auto& entry : entries)
            VoltageTexts.push_back(entry.Text);
        VoltageSelected = selected;
    }
    void ShowRegions(const std::vector<std::string>& names, int selected) override
    {
        RegionNames = names;
        RegionSelected = selected;
    }
    // The window's buffer: a new one of the region's size, all zero bytes.
    bool ResizeBuffer(std::uint32_t size) override
    {
        Buffer.assign(size, 0);
        Resizes.push_back(size);
        return true;
    }
    // The window's menu item follows both.
    void ApplyActions(const TActionState& actions) override
    {
        Actions = actions;
        FirmwareUpdate = actions.FirmwareUpdate;
    }
    void SetFirmwareUpdateEnabled(bool enabled) override { FirmwareUpdate = enabled; }
    void FocusLog() override {}

    std::vector<std::string> Log;

    int BufferAccepted = 0;
    std::vector<std::uint32_t> Speeds;
    bool StagePending = false;
    int StagesScheduled = 0;

    std::string HintPanel;
    std::string Identity;
    std::string Version;
    std::string Caption;
    std::vector<std::string> Captions;
    std::vector<std::string> DeviceNames;
    int DeviceSelected = -1;
    std::vector<std::string> VoltageTexts;
    int VoltageSelected = -1;
    std::vector<std::string> RegionNames;
    int RegionSelected = -1;
    std::vector<std::uint8_t> Buffer;
    std::vector<std::uint32_t> Resizes;
    TActionState Actions;
    bool FirmwareUpdate = false;
};

class TOpsRig {
public:
    // Every step is taken this long after the one before, on the driver's own
    // clock, so the speeds in the log are known in advance.
    static constexpr std::uint32_t StepMs = 10;

    explicit TOpsRig(const nlohmann::json& scenario = BaseScenario())
        : Link(scenario), Driver(Link.Port, Settings, View, View, View, [this] { return Now; }),
          Connection(Link.Port, View, View)
    {
    }

    // For the cases where the adapter stays silent: no need to wait 5 s.
    void ShortReplyWait() { Link.Port.SetReplyTimeout(std::chrono::milliseconds(200)); }

    void Connect() { Connection.Connect(Link.Number); }

    TOperationTarget Target()
    {
        return {static_cast<std::uint8_t>(Connection.SelectedDevice()),
                static_cast<std::uint8_t>(Connection.SelectedRegion()), Connection.VoltageCode(), View.Buffer};
    }

    // One click on an operation item and every stage it leads to, as the
    // window runs them: each stage under its own progress dialog, the pending
    // stage run again through Begin. cancelWhen is asked before each step
    // with the stage's name and the count of its steps taken so far; true
    // cancels the stage there.
    void Click(int tag, const std::function<bool(const std::string&, int)>& cancelWhen = {})
    {
        bool first = true;
        while (first || View.StagePending) {
            View.StagePending = false;
            if (!Driver.Begin(first ? tag : 0, Target()))
                return;
            first = false;
            const bool cancelled = RunSteps(cancelWhen);
            Driver.Finish(cancelled);
        }
    }

    int Count(std::uint8_t code) const { return Link.Sim.RequestCount(code); }

    int LogCount(const std::string& text) const
    {
        return static_cast<int>(std::count(View.Log.begin(), View.Log.end(), text));
    }

    // The lengths of the block commands with this code, in the order sent.
    std::vector<int> BlockLengths(std::uint8_t code) const
    {
        std::vector<int> lengths;
        for (const auto& payload : Link.Sim.RequestPayloads())
            if (payload.size() >= BlockHeadSize && payload[0] == code)
                lengths.push_back(payload[5] | payload[6] << 8);
        return lengths;
    }

    // The operation codes of the start requests, in the order sent.
    std::vector<int> StartedOperations() const
    {
        std::vector<int> operations;
        for (const auto& payload : Link.Sim.RequestPayloads())
            if (payload.size() == StartOperationSize && payload[0] == Cmd::StartOperation)
                operations.push_back(payload[3]);
        return operations;
    }

    TSimLink Link;
    TSettings Settings;
    TOpsView View;
    std::uint32_t Now = 1000;
    TOperationDriver Driver;
    TConnection Connection;
    std::vector<int> Percents; // after every step of every stage

private:
    bool RunSteps(const std::function<bool(const std::string&, int)>& cancelWhen)
    {
        const std::string stage = Driver.StageName();
        for (int steps = 0;; ++steps) {
            if (cancelWhen && cancelWhen(stage, steps))
                return true;
            int percent = 0;
            const bool more = Driver.ActionStep(percent);
            Now += StepMs;
            Percents.push_back(percent);
            if (!more)
                return false;
        }
    }
};

} // namespace lindprog::test
