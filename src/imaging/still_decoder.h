#pragma once

#include "common/result.h"
#include "imaging/image_file.h"
#include "imaging/image_format.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Still pictures from any of the five formats, chosen by name or by content.
namespace quillix::imaging {

// An uninitialised 32-bit picture for a decoder to fill; null when memory runs out. Under
// ContainerPixels it is a secure one (NewSecurePicture). Large ordinary ones
// ask for transparent huge pages: faulting in fresh small pages costs a third of a 24-megapixel
// JPEG decode. The kernel may stall once to compact memory for them.
QImage NewPicture(int width, int height, QImage::Format format);

// Whether a picture of `declared` pixels is worth allocating when its data could paint at most
// `paintable` of them at its format's densest encoding. Decoders show pixels their data leaves
// undefined (skipped, cut off, outside every frame) as transparent or grey, so a picture that is
// three quarters such filler is still believed; one that is more is a header lying to make a few
// bytes cost gigabytes. Up to a megapixel everything is believed: it costs next to nothing.
bool DataCouldShow(std::int64_t declared, std::int64_t paintable);

// The picture `bytes` hold in `format` as the user should see it (a JPEG turned as its EXIF
// orientation says, a GIF's first frame, colours converted to sRGB); Unsupported for Unknown.
Result<QImage> DecodeStill(ImageFormat format, std::span<const std::uint8_t> bytes);

// The same picture with its colours as stored, tagged with the colour space the file declares:
// for a caller that makes it smaller before converting (ShowInSrgb) what remains.
Result<QImage> DecodeStillTagged(ImageFormat format, std::span<const std::uint8_t> bytes);

// The file decoded by the format its extension names.
Result<QImage> DecodeStillFile(const std::string& path);

// The content fallback for a file its extension's decoder refused: JPEG, then BMP, then WebP,
// whatever the name says, the first that decodes; then HEIF, TIFF or JPEG XL when the first
// bytes announce one. Fails with BadHeader when none does.
Result<QImage> LoadImageByContent(std::span<const std::uint8_t> bytes);

}  // namespace quillix::imaging
