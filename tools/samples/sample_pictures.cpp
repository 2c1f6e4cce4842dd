#include "samples/sample_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

namespace quillix::samples {
namespace {

constexpr double kPi = std::numbers::pi;

// The same pictures on every machine and every run: no library generator whose sequence may
// differ between standard libraries.
class Random {
public:
    explicit Random(int seed) : state_(static_cast<std::uint32_t>(seed) * 2654435761u + 12345u) {}
    double Next()
    {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) / 16777216.0;
    }
    double Between(double low, double high) { return low + (high - low) * Next(); }

private:
    std::uint32_t state_;
};

QColor Hsv(double hue, double saturation, double value, double alpha = 1.0)
{
    return QColor::fromHsvF(static_cast<float>(std::fmod(hue + 1.0, 1.0)), static_cast<float>(saturation),
                            static_cast<float>(value), static_cast<float>(alpha));
}

// Segments a to g in bits 0 to 6: top, upper right, lower right, bottom, lower left, upper
// left, middle.
constexpr std::array<int, 10> kSegments = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void DrawDigit(QPainter& p, double x, double y, double w, double h, int digit)
{
    const double t = h * 0.13;
    const double half = h / 2;
    const std::array<QRectF, 7> rects = {
        QRectF(x + t, y, w - 2 * t, t),                            // a
        QRectF(x + w - t, y + t, t, half - 1.5 * t),               // b
        QRectF(x + w - t, y + half + 0.5 * t, t, half - 1.5 * t),  // c
        QRectF(x + t, y + h - t, w - 2 * t, t),                    // d
        QRectF(x, y + half + 0.5 * t, t, half - 1.5 * t),          // e
        QRectF(x, y + t, t, half - 1.5 * t),                       // f
        QRectF(x + t, y + half - 0.5 * t, w - 2 * t, t),           // g
    };
    for (std::size_t s = 0; s < rects.size(); ++s)
        if (kSegments[static_cast<std::size_t>(digit)] >> s & 1) p.drawRoundedRect(rects[s], t / 2, t / 2);
}

// The number on a dark rounded badge in the lower right corner, so that every sample can be
// told apart at a glance; left out where it could not be read.
void DrawNumber(QPainter& p, int width, int height, int number)
{
    const int side = std::min(width, height);
    if (side < 40) return;
    const double h = std::clamp(side / 9.0, 14.0, 160.0);
    const double w = h * 0.55, gap = h * 0.22, pad = h * 0.35;
    char digits[12];
    std::snprintf(digits, sizeof digits, "%02d", number);
    const double textWidth = static_cast<double>(std::strlen(digits)) * (w + gap) - gap;
    const QRectF badge(width - textWidth - 3 * pad, height - h - 3 * pad, textWidth + 2 * pad, h + 2 * pad);
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawRoundedRect(badge, pad, pad);
    p.setBrush(QColor(255, 255, 255, 235));
    double x = badge.left() + pad;
    for (const char* c = digits; *c != 0; ++c) {
        DrawDigit(p, x, badge.top() + pad, w, h, *c - '0');
        x += w + gap;
    }
    p.restore();
}

// A jagged ridge from left to right by midpoint displacement, closed along the bottom edge.
QPainterPath Ridge(int width, int height, double baseline, double roughness, Random& rnd)
{
    std::vector<double> heights(65);
    heights.front() = baseline + rnd.Between(-roughness, roughness);
    heights.back() = baseline + rnd.Between(-roughness, roughness);
    for (std::size_t step = 32; step >= 1; step /= 2) {
        for (std::size_t i = step; i < heights.size(); i += 2 * step)
            heights[i] = (heights[i - step] + heights[i + step]) / 2 + rnd.Between(-roughness, roughness);
        roughness *= 0.55;
    }
    QPainterPath path(QPointF(0, height));
    for (std::size_t i = 0; i < heights.size(); ++i)
        path.lineTo(width * static_cast<double>(i) / (heights.size() - 1), heights[i]);
    path.lineTo(width, height);
    path.closeSubpath();
    return path;
}

void PaintSunset(QPainter& p, int w, int h, Random& rnd, double variation)
{
    // Only a small turn of the hue: a green evening sky looks wrong.
    const double hue = (variation - 0.5) * 0.16;
    const double side = std::min(w, h);
    QLinearGradient sky(0, 0, 0, h * 0.7);
    sky.setColorAt(0, Hsv(hue + 0.70, 0.75, 0.35));
    sky.setColorAt(0.55, Hsv(hue + 0.95, 0.65, 0.85));
    sky.setColorAt(1, Hsv(hue + 0.11, 0.70, 1.0));
    p.fillRect(0, 0, w, h, sky);

    const QPointF sun(w * rnd.Between(0.25, 0.75), h * 0.45);
    const double radius = side * 0.13;
    QRadialGradient glow(sun, radius * 3);
    glow.setColorAt(0, Hsv(hue + 0.13, 0.3, 1.0, 0.9));
    glow.setColorAt(0.33, Hsv(hue + 0.12, 0.6, 1.0, 0.8));
    glow.setColorAt(0.34, Hsv(hue + 0.10, 0.6, 1.0, 0.35));
    glow.setColorAt(1, Hsv(hue + 0.08, 0.6, 1.0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(sun, radius * 3, radius * 3);

    for (int layer = 0; layer < 4; ++layer) {
        const double baseline = h * (0.55 + 0.11 * layer);
        p.setBrush(Hsv(hue + 0.75 - 0.03 * layer, 0.45 + 0.1 * layer, 0.45 - 0.1 * layer));
        p.drawPath(Ridge(w, h, baseline, h * 0.12 / (layer + 1), rnd));
    }
}

void PaintBokeh(QPainter& p, int w, int h, Random& rnd, double hue)
{
    const double side = std::min(w, h);
    QLinearGradient background(0, 0, w, h);
    background.setColorAt(0, Hsv(hue + 0.50, 0.8, 0.25));
    background.setColorAt(1, Hsv(hue + 0.65, 0.9, 0.08));
    p.fillRect(0, 0, w, h, background);
    p.setPen(Qt::NoPen);
    p.setCompositionMode(QPainter::CompositionMode_Screen);
    for (int i = 0; i < 70; ++i) {
        const QPointF centre(rnd.Between(0, w), rnd.Between(0, h));
        const double radius = side * rnd.Between(0.015, 0.11);
        const double tint = hue + rnd.Between(0.0, 0.25);
        QRadialGradient light(centre, radius);
        light.setColorAt(0, Hsv(tint, 0.5, 0.9, 0.55));
        light.setColorAt(0.85, Hsv(tint, 0.6, 0.8, 0.35));
        light.setColorAt(1, Hsv(tint, 0.6, 0.8, 0.0));
        p.setBrush(light);
        p.drawEllipse(centre, radius, radius);
    }
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void PaintWaves(QPainter& p, int w, int h, Random& rnd, double hue)
{
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, Hsv(hue + 0.55, 0.25, 1.0));
    sky.setColorAt(1, Hsv(hue + 0.58, 0.5, 0.9));
    p.fillRect(0, 0, w, h, sky);
    p.setPen(Qt::NoPen);
    constexpr int kBands = 7;
    for (int band = 0; band < kBands; ++band) {
        const double baseline = h * (0.25 + 0.11 * band);
        const double amplitude = h * rnd.Between(0.02, 0.06);
        const double waves = rnd.Between(1.0, 3.0), phase = rnd.Between(0, 2 * kPi);
        QPainterPath path(QPointF(0, h));
        for (int i = 0; i <= 96; ++i) {
            const double x = w * i / 96.0;
            path.lineTo(x, baseline + amplitude * std::sin(phase + waves * 2 * kPi * x / w));
        }
        path.lineTo(w, h);
        path.closeSubpath();
        QLinearGradient fill(0, baseline - amplitude, 0, h);
        fill.setColorAt(0, Hsv(hue + 0.5 + 0.03 * band, 0.4 + 0.07 * band, 0.95 - 0.08 * band, 0.9));
        fill.setColorAt(1, Hsv(hue + 0.6 + 0.03 * band, 0.7, 0.35, 0.95));
        p.setBrush(fill);
        p.drawPath(path);
    }
}

void PaintTiles(QPainter& p, int w, int h, Random& rnd, double hue)
{
    const std::array<QColor, 5> colours = {Hsv(hue, 0.65, 0.95), Hsv(hue + 0.08, 0.55, 0.98),
                                           Hsv(hue + 0.5, 0.45, 0.55), Hsv(hue + 0.55, 0.25, 0.95),
                                           Hsv(hue + 0.95, 0.1, 0.2)};
    const double cell = std::max(2.0, std::min(w, h) / 7.0);
    p.setPen(Qt::NoPen);
    for (double y = 0; y < h; y += cell)
        for (double x = 0; x < w; x += cell) {
            const auto pick = [&] { return colours[static_cast<std::size_t>(rnd.Next() * colours.size())]; };
            p.fillRect(QRectF(x, y, cell, cell), pick());
            const bool rising = rnd.Next() < 0.5;
            QPolygonF triangle;
            triangle << QPointF(x, y + cell) << QPointF(x + cell, rising ? y : y + cell)
                     << QPointF(rising ? x + cell : x, rising ? y + cell : y);
            p.setBrush(pick());
            p.drawPolygon(triangle);
            if (rnd.Next() < 0.25) {
                p.setBrush(pick());
                p.drawEllipse(QPointF(x + cell / 2, y + cell / 2), cell / 4, cell / 4);
            }
        }
}

void PaintRings(QPainter& p, int w, int h, Random& rnd, double hue)
{
    const QPointF centre(w * rnd.Between(0.3, 0.7), h * rnd.Between(0.3, 0.7));
    QConicalGradient background(centre, rnd.Between(0, 360));
    for (int i = 0; i <= 6; ++i)
        background.setColorAt(i / 6.0, Hsv(hue + i / 6.0, 0.35, 0.95));
    p.fillRect(0, 0, w, h, background);
    const double far = std::hypot(std::max(centre.x(), w - centre.x()), std::max(centre.y(), h - centre.y()));
    const double step = std::max(1.0, std::min(w, h) / 14.0);
    p.setPen(QPen(QColor(255, 255, 255, 160), std::max(1.0, step / 10)));
    int ring = 0;
    for (double r = far; r > step / 2; r -= step, ++ring) {
        p.setBrush(Hsv(hue + 0.04 * ring, 0.55, 0.55 + 0.4 * (ring % 2), 0.5));
        p.drawEllipse(centre, r, r);
    }
}

// Soap bubbles on a transparent background: shows how the viewer draws alpha.
void PaintBubbles(QPainter& p, int w, int h, Random& rnd, double hue)
{
    const double side = std::min(w, h);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 18; ++i) {
        const double radius = side * rnd.Between(0.05, 0.2);
        const QPointF centre(rnd.Between(radius, w - radius), rnd.Between(radius, h - radius));
        const double tint = hue + rnd.Between(0, 0.4);
        QRadialGradient body(centre, radius, centre - QPointF(radius / 3, radius / 3));
        body.setColorAt(0, Hsv(tint, 0.1, 1.0, 0.25));
        body.setColorAt(0.8, Hsv(tint, 0.5, 0.95, 0.45));
        body.setColorAt(1, Hsv(tint + 0.1, 0.7, 0.8, 0.85));
        p.setBrush(body);
        p.drawEllipse(centre, radius, radius);
        p.setBrush(QColor(255, 255, 255, 200));
        p.drawEllipse(centre - QPointF(radius * 0.4, radius * 0.4), radius * 0.12, radius * 0.08);
    }
}

QImage PaintedCanvas(int width, int height, bool transparent)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(transparent ? Qt::transparent : Qt::black);
    return image;
}

}  // namespace

QImage PaintScene(Scene scene, int width, int height, int number)
{
    Random rnd(number);
    const double hue = rnd.Next();
    const bool transparent = scene == Scene::Bubbles;
    QImage image = PaintedCanvas(width, height, transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        switch (scene) {
        case Scene::Sunset: PaintSunset(p, width, height, rnd, hue); break;
        case Scene::Bokeh: PaintBokeh(p, width, height, rnd, hue); break;
        case Scene::Waves: PaintWaves(p, width, height, rnd, hue); break;
        case Scene::Tiles: PaintTiles(p, width, height, rnd, hue); break;
        case Scene::Rings: PaintRings(p, width, height, rnd, hue); break;
        case Scene::Bubbles: PaintBubbles(p, width, height, rnd, hue); break;
        }
        DrawNumber(p, width, height, number);
    }
    return image.convertToFormat(transparent ? QImage::Format_ARGB32 : QImage::Format_RGB32);
}

std::vector<QImage> BouncingBallFrames(int width, int height, int count, int number)
{
    Random rnd(number);
    QImage backdrop = PaintedCanvas(width, height, false);
    const double ground = height * 0.8;
    {
        QPainter p(&backdrop);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient sky(0, 0, 0, ground);
        sky.setColorAt(0, QColor(70, 130, 220));
        sky.setColorAt(1, QColor(200, 230, 255));
        p.fillRect(0, 0, width, height, sky);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 180, 90));
        p.drawPath(Ridge(width, height, ground - height * 0.12, height * 0.05, rnd));
        p.setBrush(QColor(80, 150, 60));
        p.drawRect(QRectF(0, ground, width, height - ground));
    }
    const double radius = std::min(width, height) * 0.08;
    std::vector<QImage> frames;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / count;
        // Across and back once per loop with three bounces, so the last frame leads into the first.
        const double across = t < 0.5 ? 2 * t : 2 - 2 * t;
        const double lift = std::abs(std::sin(3 * kPi * t));
        const QPointF centre(width * (0.12 + 0.76 * across), ground - radius - lift * height * 0.55);
        QImage frame = backdrop.copy();
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, static_cast<int>(110 - 70 * lift)));
        p.drawEllipse(QPointF(centre.x(), ground + radius * 0.15), radius * (1.1 - 0.5 * lift), radius * 0.25);
        QRadialGradient ball(centre, radius, centre - QPointF(radius / 2.5, radius / 2.5));
        ball.setColorAt(0, QColor(255, 220, 200));
        ball.setColorAt(0.3, QColor(235, 60, 50));
        ball.setColorAt(1, QColor(120, 10, 20));
        p.setBrush(ball);
        p.drawEllipse(centre, radius, radius);
        DrawNumber(p, width, height, number);
        p.end();
        frames.push_back(frame.convertToFormat(QImage::Format_RGB32));
    }
    return frames;
}

std::vector<QImage> OrbitFrames(int width, int height, int count, int number)
{
    Random rnd(number);
    QImage sky = PaintedCanvas(width, height, false);
    const QPointF centre(width / 2.0, height / 2.0);
    const double side = std::min(width, height);
    {
        QPainter p(&sky);
        p.setRenderHint(QPainter::Antialiasing);
        QRadialGradient space(centre, std::hypot(width, height) / 2);
        space.setColorAt(0, QColor(30, 25, 70));
        space.setColorAt(1, QColor(5, 5, 20));
        p.fillRect(0, 0, width, height, space);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < 150; ++i) {
            p.setBrush(QColor(255, 255, 255, static_cast<int>(rnd.Between(60, 230))));
            p.drawEllipse(QPointF(rnd.Between(0, width), rnd.Between(0, height)), 0.8, 0.8);
        }
        QRadialGradient sun(centre, side * 0.16);
        sun.setColorAt(0, QColor(255, 255, 220));
        sun.setColorAt(0.45, QColor(255, 200, 60));
        sun.setColorAt(0.6, QColor(255, 140, 30, 120));
        sun.setColorAt(1, QColor(255, 100, 0, 0));
        p.setBrush(sun);
        p.drawEllipse(centre, side * 0.16, side * 0.16);
    }
    struct Planet {
        double orbit, radius, turns;  // whole turns per loop, so the loop closes
        QColor light, dark;
    };
    const std::array<Planet, 3> planets = {{
        {0.2, 0.025, 3, QColor(220, 200, 180), QColor(90, 70, 60)},
        {0.31, 0.045, 2, QColor(120, 190, 255), QColor(20, 50, 130)},
        {0.44, 0.035, 1, QColor(255, 170, 140), QColor(130, 40, 30)},
    }};
    std::vector<QImage> frames;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / count;
        QImage frame = sky.copy();
        QPainter p(&frame);
        p.setRenderHint(QPainter::Antialiasing);
        for (std::size_t k = 0; k < planets.size(); ++k) {
            const Planet& planet = planets[k];
            const double rx = side * planet.orbit * 1.35, ry = side * planet.orbit * 0.8;
            p.setPen(QPen(QColor(255, 255, 255, 40), 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(centre, rx, ry);
            const double angle = 2 * kPi * (planet.turns * t + 0.3 * static_cast<double>(k));
            const QPointF at(centre.x() + rx * std::cos(angle), centre.y() + ry * std::sin(angle));
            const double r = side * planet.radius;
            QRadialGradient shade(at, r, at + (centre - at) * (r / std::hypot(rx, ry)));
            shade.setColorAt(0, planet.light);
            shade.setColorAt(1, planet.dark);
            p.setPen(Qt::NoPen);
            p.setBrush(shade);
            p.drawEllipse(at, r, r);
            if (k == 1) {
                const double moonAngle = 2 * kPi * 6 * t;
                p.setBrush(QColor(210, 210, 210));
                p.drawEllipse(at + QPointF(r * 2 * std::cos(moonAngle), r * 2 * std::sin(moonAngle)), r / 4, r / 4);
            }
        }
        DrawNumber(p, width, height, number);
        p.end();
        frames.push_back(frame.convertToFormat(QImage::Format_RGB32));
    }
    return frames;
}

const std::vector<QRgb>& GifPalette()
{
    static const std::vector<QRgb> palette = [] {
        std::vector<QRgb> colours;
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 7; ++g)
                for (int b = 0; b < 6; ++b)
                    colours.push_back(qRgb(r * 255 / 5, g * 255 / 6, b * 255 / 5));
        return colours;
    }();
    return palette;
}

std::vector<std::uint8_t> DitherToGifPalette(const QImage& picture)
{
    static constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
    std::vector<std::uint8_t> indices;
    indices.reserve(static_cast<std::size_t>(rgb.width()) * static_cast<std::size_t>(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            const double threshold = (kBayer[y & 3][x & 3] + 0.5) / 16;
            const auto level = [threshold](int value, int levels) {
                return std::min(levels - 1, static_cast<int>(value * (levels - 1) / 255.0 + threshold));
            };
            const int r = level(qRed(row[x]), 6), g = level(qGreen(row[x]), 7), b = level(qBlue(row[x]), 6);
            indices.push_back(static_cast<std::uint8_t>((r * 7 + g) * 6 + b));
        }
    }
    return indices;
}

}  // namespace quillix::samples
