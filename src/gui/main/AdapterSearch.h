#pragma once
// How the window finds its adapter without ever waiting for it: every connect
// attempt runs on the window's worker, the window stays usable meanwhile.
// The attempt at start, and each retry every RetryMs while no adapter
// answers, is quiet: no error box, but "No adapter on COM1 — Options >
// Port..." once in the log and in the identity panel. An attempt that finds
// the adapter logs which one it is, with its port and firmware. A port chosen in
// Options > Port... is tried with the usual boxes. The simulated adapter of
// the port list (TDemoAdapter) is started here and connected like a port.

#include "core/base/Prompts.h"
#include "core/ops/Connection.h"

#include <QObject>
#include <QString>

#include <functional>

class QTimer;

namespace lindprog {

class TDemoAdapter;
class TDevicePort;
class TOperationWorker;
class TPortNames;

// The window's prompts, with the error boxes of a connect attempt held back
// while the window tries in the background.
class TBackgroundPrompts final : public TPrompts {
public:
    explicit TBackgroundPrompts(TPrompts& prompts) : Prompts(prompts) {}
    void ShowError(const std::string& text) override;
    void ShowInfo(const std::string& text) override { Prompts.ShowInfo(text); }
    bool AskConfirm(const std::string& text) override { return Prompts.AskConfirm(text); }
    TAnswer AskConfirmButton(const std::string& text) override { return Prompts.AskConfirmButton(text); }
    TAnswer AskWarning(const std::string& text) override { return Prompts.AskWarning(text); }

    bool Quiet = false;

private:
    TPrompts& Prompts;
};

class TAdapterSearch final : public QObject {
    Q_OBJECT
public:
    static constexpr int RetryMs = 3000;

    struct TParts {
        TOperationWorker& Worker;
        TConnection& Connection;
        TDevicePort& Port;
        TPortNames& PortNames;
        TBackgroundPrompts& Prompts; // the worker's, for the connection's questions
        TLogSink& Log;
    };
    TAdapterSearch(const TParts& parts, QObject* parent);
    ~TAdapterSearch() override;

    // An attempt on port; quiet for the attempts nobody asked for.
    void Connect(int port, bool quiet);
    // Starts the simulated adapter and connects to it.
    void ConnectDemo();
    // Options > Port... chose a real port: the simulated adapter, if it ran,
    // goes first.
    void LeaveDemo();
    bool DemoAvailable() const;
    // Stops the retries and waits for an attempt under way, so that a command
    // can use the port and the connection.
    void Stop();
    // Waits, painting but taking no input, until the worker is free.
    void WaitForWorker();
    // The endpoint's notice that the port went away; handled once the worker
    // has left the port. watch false: a firmware update restarts the adapter
    // and retries must not start.
    void PortVanished(bool watch);
    // Ends the simulated adapter; the port must be closed.
    void Shutdown();

    bool Retrying() const { return MuteLog; }
    // The port of the last attempt: the one the window uses, or looks for.
    int LastPortNumber() const { return LastPort; }
    const QString& NoAdapterText() const { return NoAdapter; }
    // The window shows NoAdapterText when it changed, and closes when asked
    // to while an attempt ran.
    std::function<void()> OnNoAdapterChanged;
    std::function<bool()> OnEnded;

    QTimer* tmrConnect;

private:
    void Attempt(int port, bool quiet, bool retrying);
    void Ended(TConnectResult result, bool quiet);
    void tmrConnectTimer();

    TParts Parts;
    TDemoAdapter* Demo;
    QString NoAdapter;
    int LastPort = 0;
    bool MuteLog = false;
};

} // namespace lindprog
