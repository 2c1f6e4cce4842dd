#include "gallery/tile_painting.h"

#include <algorithm>
#include <cstdint>

namespace quillix::gallery {

namespace {

// Painted thumbnails are this much smaller than their fitted size on each axis.
constexpr int kThumbnailShrink = 4;
constexpr const char* kEllipsis = "...";

// The number of bytes of the last UTF-8 character of the non-empty `text`; a stray continuation
// byte counts as a character of its own.
std::size_t LastCharacterLength(const std::string& text)
{
    std::size_t length = 1;
    while (length < text.size() && length < 4 &&
           (static_cast<unsigned char>(text[text.size() - length]) & 0xC0) == 0x80)
        ++length;
    if ((static_cast<unsigned char>(text[text.size() - length]) & 0xC0) == 0x80) return 1;
    return length;
}

}  // namespace

RowSpan RowsTouched(const TileLayout& layout, int clipTop, int clipBottom)
{
    const int columns = std::max(1, layout.Columns);
    const int rows = (layout.Count + columns - 1) / columns;
    const int pitch = RowPitch(layout.TileSize);
    return {std::max(0, (clipTop - kTileMargin) / pitch), std::min(rows - 1, (clipBottom - kTileMargin - 1) / pitch)};
}

Rect ThumbnailDrawRect(const Rect& well, Size thumbnail)
{
    const std::int64_t w = well.width();
    const std::int64_t h = well.height();
    const std::int64_t tw = thumbnail.width;
    const std::int64_t th = thumbnail.height;
    if (w <= 0 || h <= 0 || tw <= 0 || th <= 0) return {};
    // The fitted size in whole pixels, computed exactly: floating point can land a hair under a
    // whole number and lose a pixel.
    std::int64_t fitted_w = w;
    std::int64_t fitted_h = h;
    if (w * th <= h * tw)
        fitted_h = th * w / tw;
    else
        fitted_w = tw * h / th;
    const int dw = static_cast<int>(std::max<std::int64_t>(fitted_w - kThumbnailShrink, 1));
    const int dh = static_cast<int>(std::max<std::int64_t>(fitted_h - kThumbnailShrink, 1));
    const int left = well.left + static_cast<int>((w - dw) / 2);
    const int top = well.top + static_cast<int>((h - dh) / 2);
    return {left, top, left + dw, top + dh};
}

int NameWidthLimit(int tileSize)
{
    return tileSize - 2 * kNameIndent;
}

int NameTextOffset(int textHeight)
{
    return (kNameStripHeight - textHeight) / 2;
}

std::string FitNameToWidth(const std::string& name, int maxWidth, const std::function<int(const std::string&)>& measure)
{
    if (measure(name) <= maxWidth) return name;
    const int ellipsis = measure(kEllipsis);
    std::string shortened = name;
    do {
        if (shortened.empty()) return kEllipsis;
        shortened.resize(shortened.size() - LastCharacterLength(shortened));
    } while (measure(shortened) + ellipsis > maxWidth);
    return shortened + kEllipsis;
}

}  // namespace quillix::gallery
