#pragma once
// The window's own store, kept apart from the settings: where the window
// sits, the files opened last, and the address each device's region was last
// placed at when an image file was loaded or saved. A board's flash sits at the same address every
// time, so the user types it once per device and region; keying it by names
// rather than list positions keeps it right when the adapter's list changes.

#include <QSettings>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>

namespace lindprog {

std::unique_ptr<QSettings> OpenWindowStore();

std::optional<std::uint64_t> RememberedBase(const QString& device, const QString& region);
void RememberBase(const QString& device, const QString& region, std::uint64_t base);

// File > Recent files: the files opened or saved last, newest first.
constexpr int MaxRecentFiles = 8;
QStringList RecentFiles();
void AddRecentFile(const QString& path);

} // namespace lindprog
