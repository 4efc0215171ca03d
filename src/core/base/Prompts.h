#pragma once
// How the core reaches the user: log lines and the fixed kinds of question
// boxes. The GUI shows real message boxes; tests answer from a script, the
// command line and the window's production stations as nobody is there to.

#include <string>

namespace lindprog {

// What a question box ended with. Closing a box with its close box chooses no
// button at all.
enum class TAnswer { Yes, No, None };

class TLogSink {
public:
    virtual ~TLogSink() = default;
    virtual void AddLogLine(const std::string& text) = 0;
};

class TPrompts {
public:
    virtual ~TPrompts() = default;
    virtual void ShowError(const std::string& text) = 0;
    virtual void ShowInfo(const std::string& text) = 0;
    // Confirmation box ("&Yes" / "&No"); true only for "&Yes".
    virtual bool AskConfirm(const std::string& text) = 0;
    // A confirmation-kind box whose caller wants to know which button it was.
    virtual TAnswer AskConfirmButton(const std::string& text) = 0;
    // A warning-kind box with "&Yes" / "&No".
    virtual TAnswer AskWarning(const std::string& text) = 0;
};

// The answers of a front end nobody sits at (the command line, a production
// station): boxes become log lines, the operation's own question is yes
// (starting it was the confirmation), the failed read block's question
// follows IgnoreReadErrors, and a warning is no.
class TUnattendedPrompts final : public TPrompts {
public:
    explicit TUnattendedPrompts(TLogSink& log) : Log(log) {}
    void ShowError(const std::string& text) override
    {
        if (!Quiet)
            Log.AddLogLine(text);
    }
    void ShowInfo(const std::string& text) override { Log.AddLogLine(text); }
    bool AskConfirm(const std::string&) override { return true; }
    TAnswer AskConfirmButton(const std::string&) override { return IgnoreReadErrors ? TAnswer::Yes : TAnswer::No; }
    TAnswer AskWarning(const std::string&) override { return TAnswer::No; }

    bool IgnoreReadErrors = false;
    // Errors are not logged: while connecting, the caller reports a failure
    // itself, naming the port as it was given rather than by a number.
    bool Quiet = false;

private:
    TLogSink& Log;
};

} // namespace lindprog
