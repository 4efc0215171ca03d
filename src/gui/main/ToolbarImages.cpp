#include "gui/main/ToolbarImages.h"

#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

// The images are compiled into the static GUI library, whose resources
// are not registered by themselves.
static void RegisterIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace lindprog {

namespace {

const char* ResourceOf(TToolImage image)
{
    static const char* const paths[] = {":/icons/open.svg",  ":/icons/save.svg",      ":/icons/program.svg",
                                        ":/icons/read.svg",  ":/icons/write.svg",     ":/icons/verify.svg",
                                        ":/icons/erase.svg", ":/icons/blankcheck.svg"};
    return paths[static_cast<int>(image)];
}

QImage Render(TToolImage image)
{
    QImage canvas(64, 48, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QSvgRenderer renderer(QString(ResourceOf(image)));
    QPainter painter(&canvas);
    renderer.render(&painter, QRectF(0, 0, 64, 48));
    return canvas;
}

// Grey, lighter and half transparent: clearly unavailable, still recognisable.
QImage Disabled(const QImage& source)
{
    QImage result = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < result.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
        }
    }
    return result;
}

} // namespace

QIcon ToolbarIcon(TToolImage image)
{
    static const bool registered = (RegisterIconResources(), true);
    (void)registered;
    const QImage normal = Render(image);
    QIcon icon;
    icon.addPixmap(QPixmap::fromImage(normal), QIcon::Normal);
    icon.addPixmap(QPixmap::fromImage(Disabled(normal)), QIcon::Disabled);
    return icon;
}

} // namespace lindprog
