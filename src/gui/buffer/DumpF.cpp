#include "gui/buffer/DumpF.h"

#include "gui/buffer/FillD.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFontDialog>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

#include <string>
#include <utility>

namespace lindprog {

// The drawing surface: paints what the frame tells it and hands its mouse
// input to the frame. It never takes the focus; the frame does.
class TDumpSurface final : public QWidget {
public:
    explicit TDumpSurface(TDumpFrame& frame) : QWidget(&frame), Frame(frame)
    {
        setObjectName("pbDump");
        setFocusPolicy(Qt::NoFocus);
        // White where no line reaches (below the last, right of the columns):
        // the cyan is the columns' own, so an empty view shows no data.
        QPalette blank = palette();
        blank.setColor(QPalette::Window, Qt::white);
        setPalette(blank);
        setAutoFillBackground(true);
    }

    // Room for a whole line (77 columns) and a screenful of lines.
    QSize sizeHint() const override
    {
        const TDumpEditor& model = Frame.Editor();
        return {80 * model.CharWidth(), 16 * model.CharHeight()};
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QPainter painter(this);
        Frame.PaintSurface(painter, event->rect());
    }
    void resizeEvent(QResizeEvent*) override { Frame.Measure(); }
    void mousePressEvent(QMouseEvent* event) override { Frame.SurfaceMousePress(event); }
    void mouseMoveEvent(QMouseEvent* event) override { Frame.SurfaceMouseMove(event); }
    void mouseReleaseEvent(QMouseEvent* event) override { Frame.SurfaceMouseRelease(event); }
    void wheelEvent(QWheelEvent* event) override
    {
        if (!Frame.Wheel(event))
            event->ignore();
    }

private:
    TDumpFrame& Frame;
};

namespace {

constexpr int ScrollBarWidth = 20;

// Courier New, 12 pixels of character height. Full hinting gives whole-pixel
// advances, so the drawn text keeps to the cell grid of the cursor and the mouse.
QFont ViewFont()
{
    QFont font("Courier New");
    font.setPixelSize(12);
    font.setHintingPreference(QFont::PreferFullHinting);
    // Where neither Courier New nor a substitute is installed, the column
    // arithmetic still needs a fixed-pitch font.
    if (!QFontInfo(font).fixedPitch())
        font.setStyleHint(QFont::TypeWriter);
    return font;
}

// Qt's text layout gives the soft hyphen (byte 0xAD) neither a glyph nor a
// width, where plain text output shows it as a hyphen. Every byte must fill its
// own cell, or the rest of the line would stand off the grid.
QString DrawableText(const std::string& utf8)
{
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    text.replace(QChar(0x00AD), QLatin1Char('-'));
    return text;
}

QColor ToColor(TRgb rgb)
{
    return {rgb.Red, rgb.Green, rgb.Blue};
}

TDumpKey KeyOf(int key)
{
    switch (key) {
    case Qt::Key_Escape: return TDumpKey::Escape;
    case Qt::Key_PageUp: return TDumpKey::PageUp;
    case Qt::Key_PageDown: return TDumpKey::PageDown;
    case Qt::Key_Home: return TDumpKey::Home;
    case Qt::Key_End: return TDumpKey::End;
    case Qt::Key_Left: return TDumpKey::Left;
    case Qt::Key_Right: return TDumpKey::Right;
    case Qt::Key_Up: return TDumpKey::Up;
    case Qt::Key_Down: return TDumpKey::Down;
    default: return TDumpKey::Other;
    }
}

// The characters a key press types, as the platform's character messages give
// them: none for Delete (its text is DEL on some platforms) and for Alt
// combinations (menu keys); Escape clears the selection and types nothing, so
// it never overwrites a byte in the character area.
QList<uint> TypedCharacters(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers mods = event.modifiers();
    const bool altOnly = (mods & Qt::AltModifier) && !(mods & Qt::ControlModifier);
    if (altOnly || event.key() == Qt::Key_Escape || event.key() == Qt::Key_Delete)
        return {};
    return event.text().toUcs4();
}

TMouseButton ButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::LeftButton: return TMouseButton::Left;
    case Qt::RightButton: return TMouseButton::Right;
    default: return TMouseButton::Middle; // like the middle button: focus only
    }
}

TDumpEffect Merge(TDumpEffect a, const TDumpEffect& b)
{
    a.Repaint = a.Repaint || b.Repaint;
    a.Scrolled = a.Scrolled || b.Scrolled;
    a.CaretMoved = a.CaretMoved || b.CaretMoved;
    a.Handled = a.Handled || b.Handled;
    return a;
}

std::optional<QFont> ChooseFontDialog(QWidget* parent, const QFont& current)
{
    // The font dialog lists point sizes; offer the pixel-sized view font in points.
    QFont initial = current;
    if (initial.pixelSize() > 0 && parent)
        initial.setPointSizeF(initial.pixelSize() * 72.0 / parent->logicalDpiY());
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, initial, parent, "Font");
    return ok ? std::optional<QFont>(chosen) : std::nullopt;
}

} // namespace

TDumpFrame::TDumpFrame(QWidget* parent) : QWidget(parent), Dialogs{ChooseFontDialog, AskFillValue}
{
    setObjectName("DumpFrame");
    setFocusPolicy(Qt::StrongFocus);
    setFont(ViewFont());

    pbDump = new TDumpSurface(*this);
    sb = new QScrollBar(Qt::Vertical, this);
    sb->setObjectName("sb");
    sb->setFocusPolicy(Qt::NoFocus);
    sb->setFixedWidth(ScrollBarWidth);
    // Arrows and clicks in the track both move one line; the thumb scrolls while dragged.
    sb->setSingleStep(1);
    sb->setPageStep(1);
    sb->setTracking(true);
    sb->installEventFilter(this);
    connect(sb, &QScrollBar::valueChanged, this, [this](int value) { Apply(Model.ScrollTo(value)); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(pbDump, 1);
    layout->addWidget(sb);

    CreateMenu();
    Measure();
}

void TDumpFrame::CreateMenu()
{
    pmDump = new QMenu(this);
    pmDump->setObjectName("pmDump");
    cmFillSelected = AddMenuItem("cmFillSelected", "&Fill selected...", &TDumpFrame::cmFillSelectedClick);
    pmDump->addSeparator();
    cmRevertChanges = AddMenuItem("cmRevertChanges", "&Revert changes", &TDumpFrame::cmRevertChangesClick);
    cmUpdateChanges = AddMenuItem("cmUpdateChanges", "&Update changes", &TDumpFrame::cmUpdateChangesClick);
    pmDump->addSeparator();
    cmFont = AddMenuItem("cmFont", "F&ont...", &TDumpFrame::cmFontClick);
    pmDump->addSeparator();
    cmFindString = AddMenuItem("cmFindString", "Find &strings...", &TDumpFrame::cmFindStringClick);
    connect(pmDump, &QMenu::aboutToShow, this, [this] { pmDumpPopup(); });
}

QAction* TDumpFrame::AddMenuItem(const char* name, const QString& text, void (TDumpFrame::*handler)())
{
    QAction* action = pmDump->addAction(text);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    return action;
}

void TDumpFrame::AttachTo(QWidget* panel)
{
    setParent(panel);
    QLayout* layout = panel->layout();
    if (!layout) {
        layout = new QVBoxLayout(panel);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(this);
    show();
}

QWidget* TDumpFrame::Surface() const
{
    return pbDump;
}

// The cell is measured with the frame's own font, never with one chosen later
// through "Font...": that one is for drawing only.
void TDumpFrame::Measure()
{
    const QFontMetrics metrics(font());
    Model.SetMetrics(metrics.horizontalAdvance(QLatin1Char('A')), metrics.height(), pbDump->height());
    SyncScrollBar();
    pbDump->update();
}

void TDumpFrame::SyncScrollBar()
{
    const QSignalBlocker quiet(sb);
    sb->setRange(0, Model.ScrollMax());
    sb->setValue(Model.ScrollPosition());
    sb->setEnabled(Model.ScrollEnabled());
}

void TDumpFrame::Apply(const TDumpEffect& effect)
{
    if (effect.Scrolled)
        sb->setValue(Model.ScrollPosition());
    if (effect.CaretMoved)
        RestartBlink();
    if (effect.Repaint || effect.CaretMoved)
        pbDump->update();
    NotifyEdits();
}

// A command moved the cursor: the view takes the focus, so the caret and a
// selection show where it went.
void TDumpFrame::ApplyMove(const TDumpEffect& effect)
{
    if (!hasFocus())
        setFocus(Qt::OtherFocusReason);
    Model.ShowCursor();
    Apply(effect);
}

void TDumpFrame::NotifyEdits()
{
    const std::array<bool, 3> state{CanUndo(), CanRedo(), Modified()};
    if (state == EditState)
        return;
    EditState = state;
    emit EditsChanged();
}

bool TDumpFrame::SetData(std::span<std::uint8_t> block)
{
    const bool hasData = Model.SetData(block);
    ApplyAddressBase();
    SyncScrollBar();
    RestartBlink();
    Repaint();
    NotifyEdits();
    return hasData;
}

void TDumpFrame::Clear()
{
    Model.Clear();
    ApplyAddressBase();
    Repaint();
    NotifyEdits();
}

void TDumpFrame::UpdateChanges()
{
    Model.UpdateChanges();
    ApplyAddressBase();
    Repaint();
    NotifyEdits();
}

void TDumpFrame::RevertChanges()
{
    Model.RevertChanges();
    Repaint();
    NotifyEdits();
}

bool TDumpFrame::Undo()
{
    const TDumpEffect effect = Model.Undo();
    if (effect.Repaint)
        ApplyMove(effect);
    return effect.Repaint;
}

bool TDumpFrame::Redo()
{
    const TDumpEffect effect = Model.Redo();
    if (effect.Repaint)
        ApplyMove(effect);
    return effect.Repaint;
}

bool TDumpFrame::GoToOffset(std::uint32_t offset)
{
    const TDumpEffect effect = Model.GoToOffset(offset);
    if (!effect.CaretMoved)
        return false;
    ApplyMove(effect);
    return true;
}

std::optional<TFoundAt> TDumpFrame::Find(std::span<const std::uint8_t> pattern, TFindFrom from)
{
    const std::optional<TFoundAt> found = Model.Find(pattern, from);
    if (found)
        ApplyMove({.Repaint = true, .Scrolled = true, .CaretMoved = true});
    return found;
}

void TDumpFrame::ShowDifferences(std::vector<TDifferenceRange> ranges)
{
    Model.ShowDifferences(std::move(ranges));
    Repaint();
}

void TDumpFrame::ClearDifferences()
{
    Model.ClearDifferences();
    Repaint();
}

bool TDumpFrame::GoToNextDifference()
{
    const TDumpEffect effect = Model.GoToNextDifference();
    if (!effect.CaretMoved)
        return false;
    ApplyMove(effect);
    return true;
}

bool TDumpFrame::GoToPreviousDifference()
{
    const TDumpEffect effect = Model.GoToPreviousDifference();
    if (!effect.CaretMoved)
        return false;
    ApplyMove(effect);
    return true;
}

void TDumpFrame::SetBaseSource(std::function<std::optional<std::uint64_t>()> source)
{
    BaseSource = std::move(source);
    ApplyAddressBase();
}

std::optional<std::uint64_t> TDumpFrame::BaseAddress()
{
    ApplyAddressBase();
    return Base;
}

void TDumpFrame::SetShowTargetAddresses(bool show)
{
    ShowTargets = show;
    ApplyAddressBase();
}

// The base is asked for whenever the bytes may have come from another file,
// so the column follows a newly opened image without the window telling it.
void TDumpFrame::ApplyAddressBase()
{
    Base = BaseSource ? BaseSource() : std::nullopt;
    const std::uint64_t shown = ShowTargets && Base ? *Base : 0;
    if (Model.Cursor().Layout().AddressBase() == shown)
        return;
    Model.SetAddressBase(shown);
    Apply({.Repaint = true, .CaretMoved = Model.CursorShown()});
}

void TDumpFrame::Repaint()
{
    pbDump->update();
}

void TDumpFrame::ShowCursor()
{
    Model.ShowCursor();
    RestartBlink();
    Repaint();
}

void TDumpFrame::HideCursor()
{
    Model.HideCursor();
    BlinkTimer.stop();
    Repaint();
}

void TDumpFrame::SetScrollPosition(std::int64_t line)
{
    Apply(Model.ScrollTo(line));
}

void TDumpFrame::SetDialogs(TDumpDialogs dialogs)
{
    Dialogs = std::move(dialogs);
}

void TDumpFrame::SetFindStringsHandler(std::function<void()> handler)
{
    FindStringsHandler = std::move(handler);
}

QRect TDumpFrame::CaretRect() const
{
    return {Model.CaretX(), Model.CaretY(), Model.CharWidth(), Model.CharHeight()};
}

bool TDumpFrame::CaretVisible() const
{
    return Model.CursorShown() && CaretOn && hasFocus();
}

// A moved or newly shown caret starts in its visible phase, as a system caret does.
void TDumpFrame::RestartBlink()
{
    CaretOn = true;
    const int flashTime = QApplication::cursorFlashTime();
    if (flashTime > 0 && Model.CursorShown())
        BlinkTimer.start(flashTime / 2, this);
    else
        BlinkTimer.stop();
}

void TDumpFrame::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != BlinkTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    CaretOn = !CaretOn;
    pbDump->update(CaretRect());
}

void TDumpFrame::PaintSurface(QPainter& painter, const QRect& dirty) const
{
    painter.setFont(pbDump->font());
    const int height = Model.CharHeight();
    for (int row = 0; row < Model.LineCount(); ++row)
        if (dirty.intersects(QRect(0, row * height, pbDump->width(), height)))
            PaintLine(painter, row);
    if (CaretVisible()) {
        // A solid block that inverts what it covers, so the character under it stays readable.
        painter.setCompositionMode(QPainter::CompositionMode_Difference);
        painter.fillRect(CaretRect(), Qt::white);
    }
}

// Each piece fills its cell with its background and advances the drawing
// position by its own width; the rest of the line is the surface's white, so
// the cyan ends with the columns. A line past the end of the data has no
// pieces and comes out white, as does a view without data. Neighbouring
// pieces of the same colours go out as one run: shaping text costs far more
// per call than per character, and a line's 34 pieces have only a few changes
// of colour.
void TDumpFrame::PaintLine(QPainter& painter, int row) const
{
    const QFontMetrics metrics(painter.font());
    const int height = Model.CharHeight();
    const int y = row * height;
    int x = 0;
    std::string run;
    TCellColours runColours;
    const auto drawRun = [&] {
        const QString text = DrawableText(run);
        const int width = metrics.horizontalAdvance(text);
        painter.fillRect(x, y, width, height, ToColor(runColours.Background));
        painter.setPen(ToColor(runColours.Text));
        painter.drawText(x, y + metrics.ascent(), text);
        x += width;
        run.clear();
    };
    for (const TLinePiece& piece : Model.LinePieces(row)) {
        const TCellColours colours = Model.PieceColours(piece);
        if (!run.empty() && colours != runColours)
            drawRun();
        runColours = colours;
        run += piece.Text;
    }
    if (!run.empty())
        drawRun();
    if (x < pbDump->width())
        painter.fillRect(x, y, pbDump->width() - x, height, pbDump->palette().color(QPalette::Window));
}

void TDumpFrame::SurfaceMousePress(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason); // whatever the button, so the popup menu opens on a focused view
    const QPoint at = event->position().toPoint();
    Apply(Model.MouseDown(ButtonOf(event->button()), at.x(), at.y()));
}

void TDumpFrame::SurfaceMouseMove(QMouseEvent* event)
{
    const QPoint at = event->position().toPoint();
    Apply(Model.MouseMove(at.x(), at.y()));
}

void TDumpFrame::SurfaceMouseRelease(QMouseEvent* event)
{
    Model.MouseUp(ButtonOf(event->button()));
}

void TDumpFrame::keyPressEvent(QKeyEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    TDumpEffect effect = Model.KeyDown(KeyOf(event->key()), ctrl);
    for (const uint ch : TypedCharacters(*event))
        effect = Merge(effect, Model.KeyPress(UnicodeToAnsi(ch)));
    Apply(effect);
    event->setAccepted(effect.Handled);
}

// A popup menu, or the switch to another window such as the fill dialog, leaves
// the view the focused control of its window: the selection stays in sight and
// only the caret goes. Any other focus change leaves the view.
void TDumpFrame::focusInEvent(QFocusEvent*)
{
    ShowCursor();
}

void TDumpFrame::focusOutEvent(QFocusEvent* event)
{
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::PopupFocusReason || reason == Qt::ActiveWindowFocusReason) {
        BlinkTimer.stop();
        Repaint();
    } else
        HideCursor();
}

bool TDumpFrame::Wheel(QWheelEvent* event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0)
        return false; // a sideways wheel is not this view's
    const TDumpEffect effect = Model.Wheel(delta);
    Apply(effect);
    event->setAccepted(effect.Handled);
    return effect.Handled;
}

bool TDumpFrame::WheelFromParent(QWheelEvent* event)
{
    return Wheel(event);
}

void TDumpFrame::wheelEvent(QWheelEvent* event)
{
    if (!Wheel(event))
        event->ignore();
}

// The scroll bar would scroll by its own step; the wheel moves 4 lines wherever
// over the view it turns.
bool TDumpFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == sb && event->type() == QEvent::Wheel)
        return Wheel(static_cast<QWheelEvent*>(event));
    return QWidget::eventFilter(watched, event);
}

void TDumpFrame::contextMenuEvent(QContextMenuEvent* event)
{
    pmDump->popup(event->globalPos());
}

void TDumpFrame::pmDumpPopup()
{
    const TDumpPopupState state = Model.PopupState();
    cmFillSelected->setEnabled(state.FillSelected);
    cmRevertChanges->setEnabled(state.RevertChanges);
    cmUpdateChanges->setEnabled(state.UpdateChanges);
    cmFont->setEnabled(state.Font);
    cmFindString->setEnabled(state.FindStrings);
}

void TDumpFrame::cmFillSelectedClick()
{
    if (const std::optional<QString> text = Dialogs.AskFillValue(window(), Model.Data().FillValue()))
        Apply(Model.FillSelected(text->toStdString()));
    ShowCursor();
}

void TDumpFrame::cmRevertChangesClick()
{
    RevertChanges();
}

void TDumpFrame::cmUpdateChangesClick()
{
    UpdateChanges();
}

void TDumpFrame::cmFontClick()
{
    if (const std::optional<QFont> chosen = Dialogs.ChooseFont(window(), pbDump->font())) {
        pbDump->setFont(*chosen);
        Repaint();
    }
    ShowCursor();
}

void TDumpFrame::cmFindStringClick()
{
    if (FindStringsHandler)
        FindStringsHandler();
}

} // namespace lindprog
