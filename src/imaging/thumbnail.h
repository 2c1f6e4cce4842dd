#pragma once

#include "common/result.h"
#include "imaging/image_format.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>

// Gallery thumbnails: pictures fitted into a square box, small ones enlarged.
namespace quillix::imaging {

// w × h scaled by s = min(box / w, box / h), each side rounded half up. Either side may come out
// 0 for a very thin picture; an empty size for w, h or box ≤ 0.
QSize ThumbnailSize(int width, int height, int box);

// The picture of `bytes` as the user sees it (a JPEG turned as its EXIF orientation says, the
// first frame of an animation) at exactly ThumbnailSize of its shown size, decoded as cheaply as
// the format allows (JPEG through DCT scaling, WebP through libwebp's scaler) and holding at most
// one full-size picture at a time. Fails with the decoder's error, or with Unsupported when a
// side of the thumbnail would be 0 pixels.
Result<QImage> DecodeThumbnail(ImageFormat format, std::span<const std::uint8_t> bytes, int box);

}  // namespace quillix::imaging
