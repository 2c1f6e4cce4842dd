#pragma once

#include "common/result.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>

// HEIC, HEIF and AVIF pictures through libheif.
namespace quillix::imaging {

// The primary image as the user sees it: the file's rotation, mirror and crop properties applied
// (and no EXIF orientation on top), grid images assembled, more than 8 bits per sample brought
// to 8. Format_ARGB32 with alpha, else Format_RGB32, from NewPicture; tagged with the colour
// space of the file's colr box (an ICC profile, or nclx primaries and transfer Qt can represent;
// untagged for PQ, HLG and what declares nothing). Fails with libheif's message: BadHeader for a
// damaged file, Unsupported for a feature or codec libheif lacks and for a picture beyond
// kMaxPixels, which is refused before anything is decoded.
Result<QImage> DecodeHeif(std::span<const std::uint8_t> bytes);

// The shown size of the primary image (after its transforms), without decoding any pixels.
Result<QSize> HeifSize(std::span<const std::uint8_t> bytes);

// The primary image at exactly ThumbnailSize(shown width, shown height, box). The file's own
// thumbnail is used when it is at least that large and has the primary image's proportions within
// rounding, since an editor's crop leaves the old thumbnail showing what was cut away; otherwise
// the primary image is decoded and scaled. Fails as DecodeHeif does, or with Unsupported when a
// side of the thumbnail would be 0 pixels.
Result<QImage> DecodeHeifThumbnail(std::span<const std::uint8_t> bytes, int box);

}  // namespace quillix::imaging
