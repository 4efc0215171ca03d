#pragma once
// What the programs that drive the real window share: settings of their own
// with the window on a chosen COM number, prompts that say yes, and a wait
// that keeps the window's events running.

#include "core/base/Prompts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace lindprog::bench {

class TYesPrompts final : public TPrompts {
public:
    void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void ShowInfo(const std::string&) override {}
    bool AskConfirm(const std::string&) override { return true; }
    TAnswer AskConfirmButton(const std::string&) override { return TAnswer::Yes; }
    TAnswer AskWarning(const std::string&) override { return TAnswer::No; }
};

// The offscreen platform unless the caller chose one: the figures and
// pictures come out the same with or without a display.
inline void OffscreenUnlessChosen()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The window's settings in folder, with COM<portNumber> as its port.
inline void UseSettingsIn(const QTemporaryDir& folder, int portNumber)
{
    ::setenv("XDG_CONFIG_HOME", folder.path().toLocal8Bit().constData(), 1);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder.path());
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Fenwick Arl", "Lindprog")
        .setValue("SerialPort", portNumber);
}

// Runs the window's events until done() holds or boundMs passed; done()'s last answer.
inline bool WaitUntil(const std::function<bool()>& done, int boundMs)
{
    QElapsedTimer bound;
    bound.start();
    while (!done() && bound.elapsed() < boundMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

} // namespace lindprog::bench
