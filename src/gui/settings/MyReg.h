#pragma once
// The settings store: the program's key in the platform's settings storage
// (an INI file under $XDG_CONFIG_HOME/Fenwick Arl/ on Linux, the per-user
// registry key on Windows), opened at start and kept for the whole run.

#include "core/settings/Settings.h"

#include <QSettings>

namespace lindprog {

class TMyRegistry final : public TSettingsStore {
public:
    TMyRegistry();

protected:
    // A value counts as a number only when it reads as a whole signed 32-bit
    // decimal; anything else (text, a fraction, an out-of-range number) is
    // "another type" and its default applies.
    std::optional<std::int32_t> ReadValue(const std::string& name) const override;
    bool WriteValue(const std::string& name, std::int32_t value) override;

private:
    mutable QSettings Store;
};

} // namespace lindprog
