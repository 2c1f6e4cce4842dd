#include "gallery/gallery_art.h"

#include "imaging/padlock.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <cmath>
#include <cstdint>

namespace quillix::gallery {
namespace {

// Every icon is drawn on a 32 × 32 grid and scaled to the size asked for.
constexpr double kGrid = 32.0;

const QColor kInk(40, 48, 64);
const QColor kPaper(250, 250, 252);
const QColor kFolder(232, 176, 64);
const QColor kFolderDark(190, 130, 30);
const QColor kBlue(40, 110, 210);
const QColor kGreen(40, 150, 70);
const QColor kRed(200, 50, 50);
const QColor kGold(205, 160, 40);

QPen Pen(const QColor& color, double width = 2.0)
{
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void Arrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width = 2.5)
{
    p.setPen(Pen(color, width));
    p.drawLine(from, to);
    const double angle = std::atan2(to.y() - from.y(), to.x() - from.x());
    const double head = 6.0;
    const QPointF left(to.x() - head * std::cos(angle - 0.5), to.y() - head * std::sin(angle - 0.5));
    const QPointF right(to.x() - head * std::cos(angle + 0.5), to.y() - head * std::sin(angle + 0.5));
    p.drawPolyline(std::array{left, to, right}.data(), 3);
}

void Picture(QPainter& p, QRectF frame)
{
    p.setPen(Pen(kInk, 1.5));
    p.setBrush(QColor(200, 228, 250));
    p.drawRoundedRect(frame, 2, 2);
    QPainterPath hills;
    hills.moveTo(frame.left() + 1, frame.bottom() - 1);
    hills.lineTo(frame.left() + frame.width() * 0.38, frame.top() + frame.height() * 0.45);
    hills.lineTo(frame.left() + frame.width() * 0.6, frame.top() + frame.height() * 0.7);
    hills.lineTo(frame.left() + frame.width() * 0.75, frame.top() + frame.height() * 0.55);
    hills.lineTo(frame.right() - 1, frame.bottom() - 1);
    hills.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(kGreen);
    p.drawPath(hills);
    p.setBrush(kGold);
    p.drawEllipse(QPointF(frame.left() + frame.width() * 0.75, frame.top() + frame.height() * 0.3), 2.6, 2.6);
}

void Sheet(QPainter& p, QRectF r)
{
    QPainterPath sheet;
    sheet.moveTo(r.topLeft());
    sheet.lineTo(r.right() - 5, r.top());
    sheet.lineTo(r.right(), r.top() + 5);
    sheet.lineTo(r.bottomRight());
    sheet.lineTo(r.bottomLeft());
    sheet.closeSubpath();
    p.setPen(Pen(kInk, 1.5));
    p.setBrush(kPaper);
    p.drawPath(sheet);
    p.setPen(Pen(QColor(150, 160, 175), 1.2));
    for (double y = r.top() + 8; y < r.bottom() - 3; y += 4)
        p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void Folder(QPainter& p)
{
    QPainterPath back;
    back.moveTo(3, 8);
    back.lineTo(12, 8);
    back.lineTo(15, 11);
    back.lineTo(29, 11);
    back.lineTo(29, 26);
    back.lineTo(3, 26);
    back.closeSubpath();
    p.setPen(Pen(kFolderDark, 1.5));
    p.setBrush(kFolderDark.lighter(120));
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(3, 26);
    front.lineTo(6, 14);
    front.lineTo(31, 14);
    front.lineTo(29, 26);
    front.closeSubpath();
    p.setBrush(kFolder);
    p.drawPath(front);
}

void TurnArrow(QPainter& p, bool clockwise)
{
    p.setPen(Pen(kBlue, 3.0));
    p.setBrush(Qt::NoBrush);
    const QRectF box(6, 6, 20, 20);
    // An open circle from the top round to the left; the head shows the direction.
    if (clockwise) {
        p.drawArc(box, 100 * 16, -280 * 16);
        Arrow(p, QPointF(10.5, 4.5), QPointF(16.5, 6.0), kBlue, 3.0);
    } else {
        p.drawArc(box, 80 * 16, 280 * 16);
        Arrow(p, QPointF(21.5, 4.5), QPointF(15.5, 6.0), kBlue, 3.0);
    }
}

void CircleSign(QPainter& p, const QColor& fill, const QString& sign)
{
    p.setPen(Pen(fill.darker(140), 1.5));
    p.setBrush(fill);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    QFont font(QStringLiteral("Sans"));
    font.setBold(true);
    font.setPixelSize(19);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(3, 3, 26, 26), Qt::AlignCenter, sign);
}

// The screen the three scaling buttons show their picture on.
void ScreenFrame(QPainter& p)
{
    p.setPen(Pen(kInk, 1.5));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 6, 24, 20));
}

void DrawIcon(QPainter& p, GalleryIcon icon)
{
    switch (icon) {
    case GalleryIcon::OpenImage: Picture(p, QRectF(3, 6, 26, 20)); break;
    case GalleryIcon::Refresh: {
        p.setPen(Pen(kGreen, 3.0));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(6, 6, 20, 20), 30 * 16, 270 * 16);
        Arrow(p, QPointF(19.5, 4.0), QPointF(25.5, 9.5), kGreen, 3.0);
        break;
    }
    case GalleryIcon::Exit: {
        p.setPen(Pen(kInk, 1.5));
        p.setBrush(QColor(170, 120, 80));
        p.drawRect(QRectF(5, 4, 14, 24));
        p.setBrush(kGold);
        p.drawEllipse(QPointF(16, 16), 1.3, 1.3);
        Arrow(p, QPointF(17, 16), QPointF(29, 16), kRed, 3.0);
        break;
    }
    case GalleryIcon::Cut: {
        p.setPen(Pen(kInk, 2.0));
        p.drawLine(QPointF(9, 4), QPointF(20, 21));
        p.drawLine(QPointF(23, 4), QPointF(12, 21));
        p.setBrush(kPaper);
        p.setPen(Pen(kRed, 2.5));
        p.drawEllipse(QPointF(10, 24), 4.2, 4.2);
        p.drawEllipse(QPointF(22, 24), 4.2, 4.2);
        break;
    }
    case GalleryIcon::Copy:
        Sheet(p, QRectF(4, 3, 16, 20));
        Sheet(p, QRectF(12, 9, 16, 20));
        break;
    case GalleryIcon::Paste: {
        p.setPen(Pen(kFolderDark, 1.5));
        p.setBrush(QColor(200, 150, 90));
        p.drawRoundedRect(QRectF(5, 5, 20, 24), 2, 2);
        p.setBrush(QColor(170, 170, 180));
        p.drawRoundedRect(QRectF(10, 2.5, 10, 5), 1.5, 1.5);
        Sheet(p, QRectF(13, 12, 15, 18));
        break;
    }
    case GalleryIcon::Delete:
        p.setPen(Pen(kRed, 4.5));
        p.drawLine(QPointF(8, 8), QPointF(24, 24));
        p.drawLine(QPointF(24, 8), QPointF(8, 24));
        break;
    case GalleryIcon::RotateCcw: TurnArrow(p, false); break;
    case GalleryIcon::RotateCw: TurnArrow(p, true); break;
    case GalleryIcon::Encrypt: imaging::DrawPadlock(p, false); break;
    case GalleryIcon::Decrypt: imaging::DrawPadlock(p, true); break;
    case GalleryIcon::Properties: CircleSign(p, kBlue, QStringLiteral("i")); break;
    case GalleryIcon::About: CircleSign(p, kGreen, QStringLiteral("?")); break;
    case GalleryIcon::ScaleToFit: {
        ScreenFrame(p);
        Arrow(p, QPointF(13, 13), QPointF(7, 9), kBlue, 2.0);
        Arrow(p, QPointF(19, 19), QPointF(25, 23), kBlue, 2.0);
        break;
    }
    case GalleryIcon::ScaleToWidth: {
        ScreenFrame(p);
        Arrow(p, QPointF(16, 16), QPointF(6.5, 16), kBlue, 2.0);
        Arrow(p, QPointF(16, 16), QPointF(25.5, 16), kBlue, 2.0);
        break;
    }
    case GalleryIcon::ScaleFullSize: {
        ScreenFrame(p);
        QFont font(QStringLiteral("Sans"));
        font.setBold(true);
        font.setPixelSize(12);
        p.setFont(font);
        p.setPen(kBlue);
        p.drawText(QRectF(4, 6, 24, 20), Qt::AlignCenter, QStringLiteral("1:1"));
        break;
    }
    case GalleryIcon::Sort: {
        p.setPen(Pen(kInk, 2.5));
        for (int row = 0; row < 4; ++row)
            p.drawLine(QPointF(4, 7 + row * 6), QPointF(8 + row * 4, 7 + row * 6));
        Arrow(p, QPointF(25, 5), QPointF(25, 27), kBlue, 2.5);
        break;
    }
    case GalleryIcon::ChangeFolder: Folder(p); break;
    case GalleryIcon::FolderUp:
        Folder(p);
        Arrow(p, QPointF(18, 25), QPointF(18, 12), kGreen, 3.0);
        break;
    case GalleryIcon::Settings: {
        p.setPen(Pen(QColor(80, 86, 100), 4.0));
        for (int k = 0; k < 8; ++k) {
            const double a = k * M_PI / 4;
            p.drawLine(QPointF(16 + 8 * std::cos(a), 16 + 8 * std::sin(a)),
                       QPointF(16 + 12.5 * std::cos(a), 16 + 12.5 * std::sin(a)));
        }
        p.setPen(Pen(QColor(80, 86, 100), 1.5));
        p.setBrush(QColor(150, 156, 170));
        p.drawEllipse(QPointF(16, 16), 9, 9);
        p.setBrush(kPaper);
        p.drawEllipse(QPointF(16, 16), 3.5, 3.5);
        break;
    }
    case GalleryIcon::Clipboard: {
        p.setPen(Pen(kFolderDark, 1.5));
        p.setBrush(QColor(200, 150, 90));
        p.drawRoundedRect(QRectF(7, 4, 18, 26), 2, 2);
        p.setBrush(QColor(170, 170, 180));
        p.drawRoundedRect(QRectF(11, 2, 10, 5), 1.5, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kPaper);
        p.drawRect(QRectF(10, 9, 12, 18));
        break;
    }
    }
}

QPixmap IconPixmap(GalleryIcon icon, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(size / kGrid, size / kGrid);
    DrawIcon(p, icon);
    return pixmap;
}

// A small deterministic generator, so the marble never changes between runs.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    double next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) / double(1u << 24);
    }

private:
    std::uint32_t state_;
};

}  // namespace

QIcon IconFor(GalleryIcon icon)
{
    QIcon result;
    for (const int size : {16, 20, 24, 32, 48})
        result.addPixmap(IconPixmap(icon, size));
    return result;
}

QImage MarbleTile()
{
    constexpr int width = 56;
    constexpr int height = 48;
    // Value noise on a lattice that wraps, so that tiles join without a seam.
    constexpr int cells = 8;
    std::array<double, cells * cells> lattice{};
    Lcg random(0x51a7e);
    for (double& v : lattice)
        v = random.next();
    const auto noise = [&](double x, double y) {
        const double fx = x * cells, fy = y * cells;
        const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
        const double tx = fx - x0, ty = fy - y0;
        const auto at = [&](int i, int j) {
            return lattice[((j % cells + cells) % cells) * cells + (i % cells + cells) % cells];
        };
        const double sx = tx * tx * (3 - 2 * tx), sy = ty * ty * (3 - 2 * ty);
        const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * sx;
        const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * sx;
        return top + (bottom - top) * sy;
    };
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            double turbulence = 0, scale = 1;
            for (int octave = 0; octave < 3; ++octave) {
                turbulence += noise(u * scale, v * scale) / scale;
                scale *= 2;
            }
            // Veins: a sine across the tile bent by the noise; the period fits the tile twice.
            const double vein = std::abs(std::sin((u * 2 + v) * M_PI * 2 + turbulence * 5.0));
            const double light = 0.80 + 0.20 * std::pow(vein, 0.35);
            image.setPixel(
                x, y,
                qRgb(static_cast<int>(232 * light), static_cast<int>(226 * light), static_cast<int>(214 * light)));
        }
    }
    return image;
}

QImage PlaceholderPicture()
{
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(QColor(235, 235, 235));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(100 / kGrid, 100 / kGrid);
    p.translate(4, 4);
    p.scale(0.75, 0.75);
    DrawIcon(p, GalleryIcon::Encrypt);
    return image;
}

}  // namespace quillix::gallery
