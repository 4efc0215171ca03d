#include "core/buffer/DumpData.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace lindprog {
namespace {

// A script of edits on the bytes 00..07, taken as the reference: "t3=AB" types
// AB at 3, "f2-4=EE" fills 2..4 with EE, "s" seals the typing run, "k" is Update
// changes, "u" undo, "r" redo.
void RunScript(TDumpData& data, const std::string& script)
{
    std::istringstream words(script);
    for (std::string word; words >> word;) {
        const auto hex = [&](std::size_t at) { return std::stoi(word.substr(at), nullptr, 16); };
        switch (word[0]) {
        case 't': data.SetByte(hex(1), static_cast<std::uint8_t>(hex(word.find('=') + 1))); break;
        case 'f': data.FillSelected(hex(1), hex(word.find('-') + 1), word.substr(word.find('=') + 1)); break;
        case 's': data.SealEdits(); break;
        case 'k': data.UpdateChanges(); break;
        case 'u': data.Undo(); break;
        case 'r': data.Redo(); break;
        }
    }
}

std::string Shown(const TDumpData& data)
{
    std::string text;
    for (std::int64_t i = 0; i < 8; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%c%02X", data.IsChanged(i) ? '*' : ' ', data.Byte(i));
        text += byte;
    }
    return text;
}

TEST(EditHistory, UndoAndRedoBringBackTheBytesTheirMarksAndTheModifiedFlag)
{
    struct TCase {
        std::string Script;
        std::string Shown; // "*" before a changed byte
        bool Modified, CanUndo, CanRedo;
    };
    const std::string original = " 00 01 02 03 04 05 06 07";
    const TCase cases[] = {
        {"t1=A0 t1=AB t2=C0 t2=CD", " 00*AB*CD 03 04 05 06 07", true, true, false},
        {"t1=A0 t1=AB t2=C0 t2=CD u", original, false, false, true}, // one step for the typing run
        {"t1=A0 t1=AB t2=C0 t2=CD u r", " 00*AB*CD 03 04 05 06 07", true, true, false},
        {"t1=AA s t2=BB u", " 00*AA 02 03 04 05 06 07", true, true, true},  // sealed: two steps
        {"t1=AA t5=BB u", " 00*AA 02 03 04 05 06 07", true, true, true},    // not the next byte
        {"t2=BB t1=AA u", " 00 01*BB 03 04 05 06 07", true, true, true},    // nor the byte before
        {"t1=AA u t3=33 r", " 00 01 02*33 04 05 06 07", true, true, false}, // a new edit drops redo
        {"f2-4=EE u", original, false, false, true},
        {"t0=11 f2-4=EE u r", "*11 01*EE*EE*EE 05 06 07", true, true, false},
        {"t1=AA k u", " 00 AA 02 03 04 05 06 07", false, false, false}, // a new reference empties it
        {"t1=AA k t2=BB u", " 00 AA 02 03 04 05 06 07", false, false, true},
    };
    for (const TCase& c : cases) {
        std::vector<std::uint8_t> block(8);
        TDumpData data;
        data.SetData(block);
        for (std::uint8_t i = 0; i < 8; ++i)
            block[i] = i;
        data.UpdateChanges();
        RunScript(data, c.Script);
        EXPECT_EQ(Shown(data), c.Shown) << c.Script;
        EXPECT_EQ(data.Modified(), c.Modified) << c.Script;
        EXPECT_EQ(data.CanUndo(), c.CanUndo) << c.Script;
        EXPECT_EQ(data.CanRedo(), c.CanRedo) << c.Script;
    }
}

TEST(EditHistory, KeepsTheNewestStepsUpToItsLimit)
{
    TEditHistory history(2);
    for (std::uint32_t at = 0; at < 3; ++at)
        history.Record({.Offset = at, .Before = {0}, .After = {1}});
    EXPECT_EQ(history.Undo()->Offset, 2u);
    EXPECT_EQ(history.Undo()->Offset, 1u);
    EXPECT_EQ(history.Undo(), nullptr);
}

} // namespace
} // namespace lindprog
