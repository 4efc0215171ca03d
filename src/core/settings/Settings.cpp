#include "core/settings/Settings.h"

#include <algorithm>

namespace lindprog {

std::int32_t TSettingsStore::ReadIntegerDef(const std::string& name, std::int32_t defaultValue) const
{
    return ReadValue(name).value_or(defaultValue);
}

bool TSettingsStore::ReadBoolDef(const std::string& name, bool defaultValue) const
{
    const auto value = ReadValue(name);
    return value ? *value != 0 : defaultValue;
}

void TSettingsStore::WriteInteger(const std::string& name, std::int32_t value)
{
    if (!WriteValue(name, value))
        throw TSettingsError("Failed to set data for '" + name + "'");
}

void TSettingsStore::WriteBool(const std::string& name, bool value)
{
    WriteInteger(name, value ? 1 : 0);
}

void TSettings::Load(const TSettingsStore& store)
{
    SerialPort = store.ReadIntegerDef("SerialPort", 1);
    TurnOffPower = store.ReadBoolDef("TurnOffPower", true);
    JtagDelay = store.ReadIntegerDef("JtagDelay", MinJtagDelay);
    BlockSize = store.ReadIntegerDef("BlockSize", FixedBlockSize);
    IgnoreReadErrors = store.ReadBoolDef("IgnoreReadErrors", false);
    BlockPause = std::clamp(store.ReadIntegerDef("BlockPause", 0), 0, MaxBlockPause);
    SkipErasedBlocks = store.ReadBoolDef("SkipErasedBlocks", true);
    // The operation driver picks its own block sizes, and a read-error choice
    // from an earlier run must not silently skip errors in this one.
    BlockSize = FixedBlockSize;
    IgnoreReadErrors = false;
    JtagDelay = std::clamp(JtagDelay, MinJtagDelay, MaxJtagDelay);
}

void TSettings::Store(TSettingsStore& store) const
{
    store.WriteInteger("SerialPort", SerialPort);
    store.WriteBool("TurnOffPower", TurnOffPower);
    store.WriteInteger("JtagDelay", JtagDelay);
    store.WriteInteger("BlockSize", BlockSize);
    store.WriteBool("IgnoreReadErrors", IgnoreReadErrors);
    store.WriteInteger("BlockPause", BlockPause);
    store.WriteBool("SkipErasedBlocks", SkipErasedBlocks);
}

} // namespace lindprog
