#pragma once
// Answers the program's questions from a script and records every prompt.

#include "core/base/Prompts.h"

#include <deque>
#include <string>
#include <vector>

namespace lindprog::test {

struct TPromptRecord {
    std::string Kind; // "error", "info", "confirm", "warning"
    std::string Text;
    bool WindowVisible = false;
    bool operator==(const TPromptRecord&) const = default;
};

class TScriptedPrompts : public TPrompts {
public:
    std::vector<TPromptRecord> Seen;
    std::deque<TAnswer> Answers; // for questions; "&No" when it runs dry

    void ShowError(const std::string& text) override { Record("error", text); }
    void ShowInfo(const std::string& text) override { Record("info", text); }
    bool AskConfirm(const std::string& text) override { return AskConfirmButton(text) == TAnswer::Yes; }
    TAnswer AskConfirmButton(const std::string& text) override
    {
        Record("confirm", text);
        return NextAnswer();
    }
    TAnswer AskWarning(const std::string& text) override
    {
        Record("warning", text);
        return NextAnswer();
    }

    std::vector<std::string> Texts() const
    {
        std::vector<std::string> texts;
        for (const auto& record : Seen)
            texts.push_back(record.Text);
        return texts;
    }

protected:
    // Whether any window was on screen when a prompt came up; none without a GUI.
    virtual bool WindowShown() const { return false; }

private:
    void Record(const char* kind, const std::string& text) { Seen.push_back({kind, text, WindowShown()}); }
    TAnswer NextAnswer()
    {
        if (Answers.empty())
            return TAnswer::No;
        const TAnswer answer = Answers.front();
        Answers.pop_front();
        return answer;
    }
};

} // namespace lindprog::test
