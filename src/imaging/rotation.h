#pragma once

#include <QImage>

#include <string>

namespace quillix::imaging {

// A quarter turn of `source` as an opaque 24-bit picture, H wide and W high: clockwise moves
// (x, y) to (H − 1 − y, x), counter-clockwise (direction < 0) to (y, W − 1 − x). A null or
// empty source gives a null image.
QImage RotateBitmap90(const QImage& source, int direction);

// What a rotation did to the file at `path`.
struct RotationOutcome {
    enum class Kind {
        Turned,       // the file holds the turned picture (direction 0: it was left as it is)
        NotTurnable,  // no path, a GIF or an extension without a turn: nothing was done
        Encrypted,    // a container: refused, untouched
        Animated,     // an animated WebP: refused, untouched
        Lossy,        // HEIF, AVIF or JPEG XL, whose libraries turn only by re-encoding: refused, untouched
        Failed,       // it could not be read, turned or written back; it is unchanged
    };
    Kind kind = Kind::NotTurnable;
    std::string path;

    bool ok() const { return kind == Kind::Turned; }
};

// Turns the picture file at `path` by a quarter as the user sees it (direction > 0 clockwise,
// < 0 counter-clockwise, 0 nothing) and writes it back under the same name through a flushed
// temporary file, so a failure never leaves half a picture. Nothing the file held is lost: JPEG
// moves its DCT blocks where its size allows, with every marker and an upright EXIF orientation,
// and otherwise keeps its pixels and only changes its EXIF orientation; PNG and BMP move their
// stored samples as they are; WebP keeps alpha and stays lossless when it was; TIFF changes only
// the Orientation tag of every page. Shows nothing and
// is safe on any thread; the caller tells the user what the outcome means.
RotationOutcome RotateImageFile90(const std::string& path, int direction);

// Encodes `picture` as a lossy WebP (alpha forced to 255) at `quality` (clamped to 0..100) and
// replaces the file at `path` through a temporary file. False on any failure; the old file stays.
bool SaveBitmapToWebP(const std::string& path, const QImage& picture, int quality);

}  // namespace quillix::imaging
