#include "core/settings/Settings.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <variant>
#include <vector>

namespace lindprog {
namespace {

// A key whose values may be numbers or, as a user could leave them with an
// editor, text; writes are recorded in order and can be refused by name.
class TMapStore : public TSettingsStore {
public:
    std::map<std::string, std::variant<std::int32_t, std::string>> Values;
    std::vector<std::string> WriteOrder;
    std::set<std::string> Refused;

protected:
    std::optional<std::int32_t> ReadValue(const std::string& name) const override
    {
        const auto found = Values.find(name);
        if (found == Values.end() || !std::holds_alternative<std::int32_t>(found->second))
            return std::nullopt;
        return std::get<std::int32_t>(found->second);
    }
    bool WriteValue(const std::string& name, std::int32_t value) override
    {
        if (Refused.contains(name))
            return false;
        WriteOrder.push_back(name);
        Values[name] = value;
        return true;
    }
};

std::int32_t Stored(const TMapStore& store, const std::string& name)
{
    return std::get<std::int32_t>(store.Values.at(name));
}

TEST(Settings, EmptyStoreGivesDefaultsAndWritesThemInOrder)
{
    TMapStore store;
    TSettings settings;
    settings.SerialPort = 99;
    settings.TurnOffPower = false;
    settings.Load(store);
    EXPECT_EQ(settings.SerialPort, 1);
    EXPECT_TRUE(settings.TurnOffPower);
    EXPECT_EQ(settings.JtagDelay, 4);
    EXPECT_EQ(settings.BlockSize, 512);
    EXPECT_FALSE(settings.IgnoreReadErrors);

    settings.Store(store);
    EXPECT_EQ(store.WriteOrder, (std::vector<std::string>{"SerialPort", "TurnOffPower", "JtagDelay", "BlockSize",
                                                          "IgnoreReadErrors", "BlockPause", "SkipErasedBlocks"}));
    EXPECT_EQ(Stored(store, "SerialPort"), 1);
    EXPECT_EQ(Stored(store, "TurnOffPower"), 1);
    EXPECT_EQ(Stored(store, "JtagDelay"), 4);
    EXPECT_EQ(Stored(store, "BlockSize"), 512);
    EXPECT_EQ(Stored(store, "IgnoreReadErrors"), 0);
    EXPECT_EQ(Stored(store, "BlockPause"), 0);
    EXPECT_EQ(Stored(store, "SkipErasedBlocks"), 1);
}

TEST(Settings, BlockPauseIsKeptWithinItsLimits)
{
    const std::pair<std::int32_t, std::int32_t> cases[] = {{0, 0}, {10, 10}, {1000, 1000}, {1001, 1000}, {-5, 0}};
    for (const auto& [stored, expected] : cases) {
        TMapStore store;
        store.Values["BlockPause"] = stored;
        TSettings settings;
        settings.Load(store);
        EXPECT_EQ(settings.BlockPause, expected) << stored;
    }
}

TEST(Settings, JtagDelayIsClampedAsSignedAndTextIsIgnored)
{
    const std::vector<std::pair<std::variant<std::int32_t, std::string>, std::int32_t>> cases = {
        {0, 4},
        {3, 4},
        {4, 4},
        {5, 5},
        {2000, 2000},
        {2001, 2000},
        {5000, 2000},
        {9999, 2000},
        {-3, 4},
        {std::int32_t{-2147483647 - 1}, 4},
        {std::string("100"), 4}};
    for (const auto& [stored, expected] : cases) {
        TMapStore store;
        store.Values["JtagDelay"] = stored;
        TSettings settings;
        settings.Load(store);
        EXPECT_EQ(settings.JtagDelay, expected);
    }
}

TEST(Settings, BlockSizeAndIgnoreReadErrorsAreForcedAtLoad)
{
    TMapStore store;
    store.Values["BlockSize"] = 64;
    store.Values["IgnoreReadErrors"] = 1;
    TSettings settings;
    settings.Load(store);
    EXPECT_EQ(settings.BlockSize, 512);
    EXPECT_FALSE(settings.IgnoreReadErrors);
    settings.Store(store);
    EXPECT_EQ(Stored(store, "BlockSize"), 512);

    // What the operation driver leaves in the flag is written back as it is.
    settings.IgnoreReadErrors = true;
    settings.Store(store);
    EXPECT_EQ(Stored(store, "IgnoreReadErrors"), 1);
}

TEST(Settings, BooleansReadAnyNonZeroAsTrueAndWriteOne)
{
    TMapStore store;
    store.Values["TurnOffPower"] = 7;
    store.Values["SerialPort"] = 12;
    TSettings settings;
    settings.Load(store);
    EXPECT_TRUE(settings.TurnOffPower);
    EXPECT_EQ(settings.SerialPort, 12);
    settings.Store(store);
    EXPECT_EQ(Stored(store, "TurnOffPower"), 1);

    store.Values["TurnOffPower"] = 0;
    settings.Load(store);
    EXPECT_FALSE(settings.TurnOffPower);
    store.Values["TurnOffPower"] = std::string("yes");
    settings.Load(store);
    EXPECT_TRUE(settings.TurnOffPower) << "text is another type: the default applies";
}

TEST(Settings, RefusedWriteNamesTheValueAndStopsTheRest)
{
    TMapStore store;
    store.Refused.insert("JtagDelay");
    TSettings settings;
    try {
        settings.Store(store);
        FAIL() << "a refused value must raise an error";
    } catch (const TSettingsError& error) {
        EXPECT_STREQ(error.what(), "Failed to set data for 'JtagDelay'");
    }
    EXPECT_EQ(store.WriteOrder, (std::vector<std::string>{"SerialPort", "TurnOffPower"}));
}

TEST(Settings, ReadDefaultsNeverFail)
{
    TMapStore store;
    EXPECT_EQ(store.ReadIntegerDef("Missing", -7), -7);
    EXPECT_TRUE(store.ReadBoolDef("Missing", true));
    store.Values["Text"] = std::string("abc");
    EXPECT_EQ(store.ReadIntegerDef("Text", 42), 42);
    EXPECT_FALSE(store.ReadBoolDef("Text", false));
    store.Values["Negative"] = -5;
    EXPECT_EQ(store.ReadIntegerDef("Negative", 0), -5);
    EXPECT_TRUE(store.ReadBoolDef("Negative", false));
}

} // namespace
} // namespace lindprog
