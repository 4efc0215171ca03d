#pragma once
// The window's own store, kept apart from the five settings: where the window
// sits, and the address each device's region was last placed at when an image
// file was loaded or saved. A board's flash sits at the same address every
// time, so the user types it once per device and region; keying it by names
// rather than list positions keeps it right when the adapter's list changes.

#include <QSettings>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace lindprog {

std::unique_ptr<QSettings> OpenWindowStore();

std::optional<std::uint64_t> RememberedBase(const QString& device, const QString& region);
void RememberBase(const QString& device, const QString& region, std::uint64_t base);

} // namespace lindprog
