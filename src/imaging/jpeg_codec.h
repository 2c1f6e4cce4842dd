#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// libjpeg-turbo decoding and encoding. Decoded pictures are QImage::Format_RGB32, tagged with the colour
// space of the ICC profile their APP2 markers embed (none for CMYK, which is converted by formula).
namespace quillix::imaging {

// The whole picture as stored, whatever its EXIF orientation says. A stream that ends early gives what was decoded
// (libjpeg's warning, not a failure) unless what is left is far too little for the declared size (DataCouldShow);
// that, or a missing or damaged header, fails with BadHeader, an oversized picture with Unsupported.
Result<QImage> DecodeJpeg(std::span<const std::uint8_t> bytes);
Result<QImage> DecodeJpegFile(const std::string& path);

// Decoded at the smallest DCT scale n/8 whose output is at least minWidth × minHeight, or at
// full size when none is; the caller scales the rest of the way.
Result<QImage> DecodeJpegScaled(std::span<const std::uint8_t> bytes, int minWidth, int minHeight);

// Width and height from the header alone.
Result<QSize> JpegSize(std::span<const std::uint8_t> bytes);

// The whole picture as the user should see it: turned or mirrored as its EXIF orientation says.
// Damaged EXIF data counts as none.
Result<QImage> DecodeJpegUpright(std::span<const std::uint8_t> bytes);

// What a lossless transform of a JPEG depends on, read from its header.
struct JpegLayout {
    QSize size;
    // Pixels per MCU: a transform moves whole MCUs, so an edge with a partial one cannot move.
    QSize mcu;
    bool progressive = false;
};
// Fails with BadHeader for a damaged header, and for one whose data is far too short for its
// size, as DecodeJpeg does: a transform would read every block of it.
Result<JpegLayout> ReadJpegLayout(std::span<const std::uint8_t> bytes);

// Baseline JPEG of `picture` (alpha dropped) at `quality`, clamped to 1..100.
Result<std::vector<std::uint8_t>> EncodeJpeg(const QImage& picture, int quality);

}  // namespace quillix::imaging
