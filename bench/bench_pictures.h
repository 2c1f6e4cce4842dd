#pragma once

#include <QImage>

#include <algorithm>
#include <cstdint>

namespace quillix::bench {

// Smooth shading with fine grain and hard edges: compresses and decodes like a photograph, not
// like flat colour or pure noise.
inline QImage PhotoLike(int width, int height, std::uint32_t seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = static_cast<int>(seed >> 28) - 8;
            const bool edge = ((x / 97) + (y / 61)) % 5 == 0;
            const int r = 255 * x / width + grain, g = 255 * y / height + grain;
            const int b = (edge ? 220 : 60) + grain;
            row[x] = qRgb(std::clamp(r, 0, 255), std::clamp(g, 0, 255), std::clamp(b, 0, 255));
        }
    }
    return image;
}

}  // namespace quillix::bench
