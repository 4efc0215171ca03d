#include "gui/main/WindowStore.h"

#include <algorithm>
#include <vector>

namespace lindprog {

namespace {

constexpr const char* BasesArray = "ImageBases";
constexpr const char* RecentKey = "RecentFiles";

struct TBaseEntry {
    QString Device;
    QString Region;
    QString Base; // "0x8000000", readable in the file
};

// An array of entries rather than keys built from the names: a name may hold
// the "/" that QSettings takes for a group separator.
std::vector<TBaseEntry> ReadBases(QSettings& store)
{
    std::vector<TBaseEntry> entries;
    const int count = store.beginReadArray(BasesArray);
    for (int i = 0; i < count; ++i) {
        store.setArrayIndex(i);
        entries.push_back(
            {store.value("Device").toString(), store.value("Region").toString(), store.value("Base").toString()});
    }
    store.endArray();
    return entries;
}

} // namespace

std::unique_ptr<QSettings> OpenWindowStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Fenwick Arl", "Lindprog-window");
}

std::optional<std::uint64_t> RememberedBase(const QString& device, const QString& region)
{
    const auto store = OpenWindowStore();
    for (const TBaseEntry& entry : ReadBases(*store)) {
        if (entry.Device != device || entry.Region != region)
            continue;
        QString digits = entry.Base.trimmed();
        if (digits.startsWith("0x", Qt::CaseInsensitive))
            digits.remove(0, 2);
        bool isNumber = false;
        const std::uint64_t base = digits.toULongLong(&isNumber, 16);
        // A value edited by hand into something else counts as none.
        if (isNumber)
            return base;
        return std::nullopt;
    }
    return std::nullopt;
}

void RememberBase(const QString& device, const QString& region, std::uint64_t base)
{
    const auto store = OpenWindowStore();
    std::vector<TBaseEntry> entries = ReadBases(*store);
    const QString text = "0x" + QString::number(base, 16).toUpper();
    auto same = [&](const TBaseEntry& entry) { return entry.Device == device && entry.Region == region; };
    if (auto found = std::find_if(entries.begin(), entries.end(), same); found != entries.end())
        found->Base = text;
    else
        entries.push_back({device, region, text});
    store->remove(BasesArray);
    store->beginWriteArray(BasesArray, static_cast<int>(entries.size()));
    for (int i = 0; i < static_cast<int>(entries.size()); ++i) {
        store->setArrayIndex(i);
        store->setValue("Device", entries[i].Device);
        store->setValue("Region", entries[i].Region);
        store->setValue("Base", entries[i].Base);
    }
    store->endArray();
}

QStringList RecentFiles()
{
    QStringList files = OpenWindowStore()->value(RecentKey).toStringList();
    files.removeAll(QString());
    return files.mid(0, MaxRecentFiles);
}

void AddRecentFile(const QString& path)
{
    QStringList files = RecentFiles();
    files.removeAll(path);
    files.prepend(path);
    OpenWindowStore()->setValue(RecentKey, files.mid(0, MaxRecentFiles));
}

} // namespace lindprog
