#pragma once
// Scripted prompts that also record whether any main window was already on
// screen when a prompt came up.

#include "support/ScriptedPrompts.h"

#include <QApplication>
#include <QWidget>

#include <algorithm>

namespace lindprog::test {

class TWindowPrompts final : public TScriptedPrompts {
protected:
    bool WindowShown() const override
    {
        const auto windows = QApplication::topLevelWidgets();
        return std::any_of(windows.begin(), windows.end(), [](const QWidget* window) { return window->isVisible(); });
    }
};

} // namespace lindprog::test
