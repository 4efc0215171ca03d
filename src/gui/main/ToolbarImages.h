#pragma once
// The tool bar's eight 64 x 48 images, drawn from our SVG resources, and the
// greyed versions shown on disabled buttons.

#include <QIcon>

namespace lindprog {

enum class TToolImage { Open, Save, Program, Read, Write, Verify, Erase, BlankCheck };

QIcon ToolbarIcon(TToolImage image);

} // namespace lindprog
