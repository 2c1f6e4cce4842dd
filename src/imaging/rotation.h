#pragma once

#include <QImage>

#include <string>

namespace quillix::imaging {

// A quarter turn of `source` as an opaque 24-bit picture, H wide and W high: clockwise moves
// (x, y) to (H − 1 − y, x), counter-clockwise (direction < 0) to (y, W − 1 − x). A null or
// empty source gives a null image.
QImage RotateBitmap90(const QImage& source, int direction);

// libwebp is linked into the program, so its encoder is always there.
bool EnsureWebPEncoder();

// Encodes `picture` as a lossy WebP (alpha forced to 255) at `quality` (clamped to 0..100) and
// replaces the file at `path` through a temporary file. False on any failure; the old file stays.
bool SaveBitmapToWebP(const std::string& path, const QImage& picture, int quality);

}  // namespace quillix::imaging
