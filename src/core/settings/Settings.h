#pragma once
// The program's settings, read once when a front end starts and written once
// when it ends, over a small store interface: the Qt
// front end stores them with QSettings, tests with a map.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace lindprog {

class TSettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The open settings key. Reads never fail: anything that isn't a stored 32-bit
// number falls back to the caller's default.
class TSettingsStore {
public:
    virtual ~TSettingsStore() = default;

    std::int32_t ReadIntegerDef(const std::string& name, std::int32_t defaultValue) const;
    bool ReadBoolDef(const std::string& name, bool defaultValue) const;
    // Throw TSettingsError "Failed to set data for '<name>'" when the store
    // refuses the value.
    void WriteInteger(const std::string& name, std::int32_t value);
    void WriteBool(const std::string& name, bool value);

protected:
    // Nothing when the value is missing, of another type, or unreadable.
    virtual std::optional<std::int32_t> ReadValue(const std::string& name) const = 0;
    virtual bool WriteValue(const std::string& name, std::int32_t value) = 0;
};

struct TSettings {
    static constexpr std::int32_t MinJtagDelay = 4;
    static constexpr std::int32_t MaxJtagDelay = 2000;
    static constexpr std::int32_t FixedBlockSize = 512;
    static constexpr std::int32_t MaxBlockPause = 1000;

    std::int32_t SerialPort = 1;
    bool TurnOffPower = true;
    std::int32_t JtagDelay = MinJtagDelay;
    std::int32_t BlockSize = FixedBlockSize;
    bool IgnoreReadErrors = false;
    // Milliseconds the window waits after every block, and between stages,
    // for adapters (or USB bridges) that cannot take requests back to back;
    // 0 sends them as fast as the line allows, as the command line does.
    std::int32_t BlockPause = 0;
    // Write and Program of a buffer loaded from an image file (HEX,
    // S-record, ELF) send and verify only the blocks holding data and prove
    // the rest blank, so the time follows the image, not the region.
    bool SkipErasedBlocks = true;

    void Load(const TSettingsStore& store);
    // Writes the five values in their fixed order, then the block pause and
    // the erased-block choice; a
    // refused value stops the rest (the error propagates to the application's
    // handler).
    void Store(TSettingsStore& store) const;
};

} // namespace lindprog
