#pragma once
// The connection and the operation runner against a simulator, without a
// window: a view that records what the window would show and answers its
// questions from a script, and a rig that runs plans with a clock of its own.

#include "core/ops/AdapterSession.h"
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
class TOpsView final : public TLogSink, public TScriptedPrompts, public TRunView, public TConnectionView {
public:
    // TLogSink, and the connection's log line.
    void AddLogLine(const std::string& text) override { Log.push_back(text); }

    // TRunView
    void BufferReplaced() override { ++BufferAccepted; }
    void ShowSpeed(std::uint32_t bytesPerSecond) override { Speeds.push_back(bytesPerSecond); }
    void StageStarted(const TStageProgress&) override { ++StagesStarted; }
    void StageProgress(const TStageProgress& progress) override { Percents.push_back(progress.Percent); }

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
    int StagesStarted = 0;
    std::vector<int> Percents; // after every step of every stage

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
    // Every step is taken this many microseconds after the one before, on the
    // driver's own clock, so the speeds in the log are known in advance.
    std::uint64_t StepMicros = 10'000;

    explicit TOpsRig(const nlohmann::json& scenario = BaseScenario())
        : Link(scenario),
          Session(Link.Names, Link.Dispatcher, Settings, {View, View, View, View}, [this] { return Now; })
    {
    }

    // For the cases where the adapter stays silent: no need to wait 5 s.
    void ShortReplyWait() { Port.SetReplyTimeout(std::chrono::milliseconds(200)); }

    void Connect() { Connection.Connect(Link.Number); }

    // One click on an operation item and every stage of its plan, one step
    // every StepMicros on the rig's clock. cancelWhen is asked before each step
    // with the stage's name and the count of its steps taken so far; true
    // cancels the stage there.
    const TPlanOutcome& Click(TOperation operation, const std::function<bool(const std::string&, int)>& cancelWhen = {})
    {
        return Run(PlanFor(operation, Connection.Target(View.Buffer)), cancelWhen);
    }

    const TPlanOutcome& Run(TPlan plan, const std::function<bool(const std::string&, int)>& cancelWhen = {})
    {
        int steps = 0;
        TRunPacing pacing;
        pacing.Stop = [&] { return cancelWhen && cancelWhen(Runner.StageName(), steps); };
        pacing.AfterStep = [&](bool more) {
            Now += StepMicros;
            steps = more ? steps + 1 : 0;
        };
        return Runner.Run(std::move(plan), pacing);
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
    std::uint64_t Now = 1'000'000;
    TAdapterSession Session;
    TDevicePort& Port = Session.Port();
    TOperationRunner& Runner = Session.Runner();
    TConnection& Connection = Session.Connection();
};

} // namespace lindprog::test
