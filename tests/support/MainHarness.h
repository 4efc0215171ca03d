#pragma once
// A main window against its own simulator, its own settings folder and its
// own COM1, so GUI tests can run side by side.

#include "gui/main/AdapterSearch.h"
#include "gui/main/Main.h"
#include "support/SimPty.h"
#include "support/TestSupport.h"
#include "support/WindowPrompts.h"

#include <QSettings>
#include <QTest>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace lindprog::test {

// One device with one region of every capability the tests need.
inline nlohmann::json AdapterScenario()
{
    return nlohmann::json::parse(R"({
      "identity": "Corvane JTAG",
      "version": [1, 18],
      "mode": 3,
      "key": 305419896,
      "devices": [
        {"name": "SPC560B50", "voltages": 3, "regions": [
          {"name": "Code flash", "flags": 7, "size": 524288},
          {"name": "Data flash", "flags": 15, "size": 65536},
          {"name": "Shadow", "flags": 1, "size": 1024},
          {"name": "Six bytes", "flags": 6, "size": 6}
        ]},
        {"name": "MPC5554", "voltages": 6, "regions": [
          {"name": "Flash", "flags": 15, "size": 4096}
        ]}
      ]
    })");
}

// The simulator (Sim, Started) serves as COM1.
class TMainHarness : public TSimPty {
public:
    explicit TMainHarness(const nlohmann::json& scenario = AdapterScenario(), sim::TSimOptions options = {})
        : TSimPty(scenario, 1, std::move(options))
    {
        ::setenv("XDG_CONFIG_HOME", Dir.Path.c_str(), 1);
        // QSettings remembers the configuration folder it saw first in a
        // process; tests that make several windows point it anew.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.Path.c_str());
    }
    ~TMainHarness()
    {
        Form.reset();
        ::unsetenv("XDG_CONFIG_HOME");
    }

    // The window looks for the adapter behind its back; a test starts from
    // the end of that first attempt.
    TMainForm& Start()
    {
        Form = std::make_unique<TMainForm>(&Prompts);
        WaitForWorker();
        // On a loaded machine the simulator's terminal may not be ready for
        // the very first open; the window then tries again after its retry
        // time, as it would for an adapter plugged in late.
        const char* com1 = std::getenv("LINDPROG_COM1");
        std::error_code ignored;
        const bool onTheSimulator = Form->Settings().SerialPort == 1 && com1 != nullptr &&
                                    std::filesystem::equivalent(com1, Sim.SlavePath(), ignored);
        if (onTheSimulator && Sim.HostOpenCount() == 0 &&
            !QTest::qWaitFor([this] { return Sim.HostOpenCount() > 0 && !Form->WorkerBusy(); },
                             TAdapterSearch::RetryMs + 5000))
            ADD_FAILURE() << "the window never opened the simulator's port";
        return *Form;
    }
    void WaitForWorker()
    {
        if (!QTest::qWaitFor([this] { return !Form->WorkerBusy(); }, 30000))
            ADD_FAILURE() << "the window's worker did not end";
    }
    // Closing the window writes the settings back.
    void Stop() { Form.reset(); }

    QString SettingsFile() const { return (Dir.Path / "Fenwick Arl" / "Lindprog.conf").c_str(); }
    // What the store holds for a value, as its text (empty when missing).
    QString Stored(const char* name) const
    {
        QSettings store(SettingsFile(), QSettings::IniFormat);
        return store.value(name).toString();
    }
    void Preset(const char* name, const QVariant& value)
    {
        QSettings store(SettingsFile(), QSettings::IniFormat);
        store.setValue(name, value);
    }

    TScratchDir Dir;
    TWindowPrompts Prompts;
    std::unique_ptr<TMainForm> Form;
};

} // namespace lindprog::test
