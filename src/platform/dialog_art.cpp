#include "platform/dialog_art.h"

#include <QApplication>
#include <QBuffer>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace quillix::platform {
namespace {

// Drawn on a 64 × 64 grid and scaled.
constexpr double kGrid = 64.0;

const QColor kNavy(24, 40, 96);
const QColor kInk(40, 48, 64);
const QColor kGold(205, 160, 40);
const QColor kGoldDark(150, 110, 20);

QPen Pen(const QColor& color, double width)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void DrawLandscape(QPainter& p, const QRectF& frame)
{
    QLinearGradient sky(frame.topLeft(), frame.bottomLeft());
    sky.setColorAt(0, QColor(120, 180, 240));
    sky.setColorAt(1, QColor(210, 232, 252));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawRect(frame);
    p.setBrush(QColor(250, 210, 70));
    p.drawEllipse(QPointF(frame.left() + frame.width() * 0.74, frame.top() + frame.height() * 0.28),
                  frame.width() * 0.09, frame.width() * 0.09);
    QPainterPath hills;
    hills.moveTo(frame.left(), frame.bottom());
    hills.lineTo(frame.left(), frame.top() + frame.height() * 0.72);
    hills.lineTo(frame.left() + frame.width() * 0.34, frame.top() + frame.height() * 0.40);
    hills.lineTo(frame.left() + frame.width() * 0.58, frame.top() + frame.height() * 0.66);
    hills.lineTo(frame.left() + frame.width() * 0.76, frame.top() + frame.height() * 0.52);
    hills.lineTo(frame.right(), frame.top() + frame.height() * 0.70);
    hills.lineTo(frame.right(), frame.bottom());
    hills.closeSubpath();
    p.setBrush(QColor(40, 150, 70));
    p.drawPath(hills);
}

void DrawPadlock(QPainter& p, const QRectF& box)
{
    // The shackle above a body two thirds of the box high.
    const double w = box.width(), h = box.height();
    p.setBrush(Qt::NoBrush);
    p.setPen(Pen(QColor(90, 96, 110), w * 0.14));
    QPainterPath shackle;
    shackle.moveTo(box.left() + w * 0.25, box.top() + h * 0.45);
    shackle.lineTo(box.left() + w * 0.25, box.top() + h * 0.30);
    shackle.arcTo(QRectF(box.left() + w * 0.25, box.top() + h * 0.06, w * 0.50, h * 0.48), 180, -180);
    shackle.lineTo(box.left() + w * 0.75, box.top() + h * 0.45);
    p.drawPath(shackle);
    p.setPen(Pen(kGoldDark, w * 0.05));
    p.setBrush(kGold);
    p.drawRoundedRect(QRectF(box.left() + w * 0.08, box.top() + h * 0.42, w * 0.84, h * 0.56), w * 0.10, w * 0.10);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QPointF(box.left() + w * 0.5, box.top() + h * 0.62), w * 0.08, w * 0.08);
    p.drawRect(QRectF(box.left() + w * 0.46, box.top() + h * 0.64, w * 0.08, h * 0.20));
}

QImage Canvas(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

}  // namespace

QImage AppIconImage(int size)
{
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / kGrid, size / kGrid);
    // A navy tile with a picture in it; the padlock over its lower right corner.
    QLinearGradient tile(QPointF(0, 0), QPointF(0, 64));
    tile.setColorAt(0, kNavy.lighter(140));
    tile.setColorAt(1, kNavy);
    p.setPen(Pen(kNavy.darker(130), 2.0));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 10, 10);
    p.setPen(Pen(QColor(250, 250, 252), 3.0));
    p.setBrush(Qt::NoBrush);
    const QRectF picture(11, 12, 42, 32);
    DrawLandscape(p, picture);
    p.setPen(Pen(QColor(250, 250, 252), 3.0));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(picture, 2, 2);
    DrawPadlock(p, QRectF(34, 30, 26, 30));
    return image;
}

QIcon AppIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(AppIconImage(size)));
    return icon;
}

QByteArray AppIconPng(int size)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    AppIconImage(size).save(&buffer, "PNG");
    return bytes;
}

QImage TileImage(const QImage& source, int width, int height)
{
    if (source.isNull() || width <= 0 || height <= 0) return {};
    QImage target(width, height, QImage::Format_RGB32);
    QPainter p(&target);
    for (int x = 0; x < width; x += source.width())
        for (int y = 0; y < height; y += source.height())
            p.drawImage(x, y, source);
    return target;
}

QIcon ApplyGlyph()
{
    QImage image = Canvas(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Pen(QColor(40, 150, 70), 5.0));
    const QPointF tick[] = {{6, 17}, {13, 25}, {27, 8}};
    p.drawPolyline(tick, 3);
    return QIcon(QPixmap::fromImage(image));
}

QIcon CancelGlyph()
{
    QImage image = Canvas(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Pen(QColor(200, 50, 50), 5.0));
    p.drawLine(QPointF(8, 8), QPointF(24, 24));
    p.drawLine(QPointF(24, 8), QPointF(8, 24));
    return QIcon(QPixmap::fromImage(image));
}

QImage PadlockPicture(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawPadlock(p, QRectF(size * 0.12, size * 0.04, size * 0.76, size * 0.92));
    return image;
}

QImage ToolsLogo(int size)
{
    QImage image = Canvas(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    const QColor steel(70, 110, 170);
    p.setPen(Pen(steel, 5.0));
    for (int k = 0; k < 8; ++k) {
        const double a = k * M_PI / 4;
        p.drawLine(QPointF(16 + 8 * std::cos(a), 16 + 8 * std::sin(a)),
                   QPointF(16 + 13 * std::cos(a), 16 + 13 * std::sin(a)));
    }
    p.setPen(Pen(steel.darker(130), 1.5));
    p.setBrush(steel);
    p.drawEllipse(QPointF(16, 16), 9.5, 9.5);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 16), 4, 4);
    return image;
}

QFont DialogFont()
{
    QFont font = QFontDatabase::families().contains(QStringLiteral("Tahoma")) ? QFont(QStringLiteral("Tahoma"))
                                                                              : QApplication::font();
    font.setPointSize(8);
    return font;
}

}  // namespace quillix::platform
