#pragma once
// How the core reaches the user: log lines and the fixed kinds of question
// boxes. The GUI shows real message boxes; tests and the command line answer
// from a script.

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

} // namespace lindprog
