// One paint of the hex view over a 16 MiB buffer, at 100 scroll positions
// spread from the first line to the last, on the offscreen platform. The view
// sits in a panel of the main window's dump size. Every paint is timed on its
// own; prints the median and the worst beside the target, so that scrolling
// through the largest regions never stutters.

#include "WindowRig.h"
#include "gui/buffer/DumpF.h"
#include "gui/main/Application.h"
#include "gui/main/Main.h"

#include <QImage>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

using namespace lindprog;

namespace {

constexpr std::size_t BufferSize = 16 * 1024 * 1024;
constexpr int Positions = 100;
constexpr double TargetMs = 5.0;
// The dump panel of the main window.
constexpr int PanelHeight = 286;

double PaintMs(QWidget& view, QImage& image)
{
    image.fill(Qt::black);
    const auto start = std::chrono::steady_clock::now();
    view.render(&image);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    bench::OffscreenUnlessChosen();
    TApplication application(argc, argv);

    QWidget panel;
    panel.setFixedSize(TMainForm::ClientWidth, PanelHeight);
    auto* view = new TDumpFrame(&panel);
    view->AttachTo(&panel);
    panel.show();
    QCoreApplication::processEvents();

    std::vector<std::uint8_t> buffer(BufferSize);
    view->SetData(buffer);
    // Varied bytes, every 16th of them changed since the reference, so each
    // line has printable and unprintable characters and both colours.
    std::mt19937 random(1);
    std::generate(buffer.begin(), buffer.end(), [&random] { return static_cast<std::uint8_t>(random()); });
    view->UpdateChanges();
    for (std::size_t at = 0; at < buffer.size(); at += 16)
        buffer[at] ^= 0xFF;
    view->setFocus();

    QImage image(view->size(), QImage::Format_ARGB32_Premultiplied);
    PaintMs(*view, image); // the first paint loads the font's glyphs
    std::vector<double> times;
    const std::int32_t last = view->ScrollMax();
    for (int step = 0; step < Positions; ++step) {
        view->SetScrollPosition(std::int64_t{last} * step / (Positions - 1));
        times.push_back(PaintMs(*view, image));
    }
    if (view->ScrollPosition() != last) {
        std::fprintf(stderr, "the view did not reach the last line\n");
        return 1;
    }
    std::sort(times.begin(), times.end());
    const double median = (times[Positions / 2 - 1] + times[Positions / 2]) / 2;
    std::printf("hex view paint, 16 MiB buffer, %d scroll positions, %dx%d offscreen\n", Positions, view->width(),
                view->height());
    std::printf("  median %6.2f ms, worst %6.2f ms (target < %.0f ms per paint)\n", median, times.back(), TargetMs);
    return 0;
}
