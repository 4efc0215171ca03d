#pragma once
// Answers the program's questions from a script and records every prompt,
// with whether any main window was already on screen when it came up.

#include "core/base/Prompts.h"

#include <QApplication>
#include <QWidget>

#include <deque>
#include <string>
#include <vector>

namespace lindprog::test {

struct TPromptRecord {
    std::string Kind; // "error", "info", "confirm", "warning"
    std::string Text;
    bool WindowVisible = false;
};

class TScriptedPrompts final : public TPrompts {
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

private:
    void Record(const char* kind, const std::string& text)
    {
        bool visible = false;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            visible = visible || widget->isVisible();
        Seen.push_back({kind, text, visible});
    }
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
