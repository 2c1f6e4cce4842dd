#pragma once

#include "common/result.h"
#include "imaging/image_file.h"

#include <QColorSpace>
#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// libwebp and libwebpdemux: still pictures, scaled decoding for thumbnails, and recognising
// animations. Pixels come back as QImage::Format_ARGB32 (B, G, R, A in memory).
namespace quillix::imaging {

// A still WebP from a file or from bytes in memory. An animated WebP is refused (Unsupported),
// as the still decoder cannot read it; LoadWebPFirstFrame takes its first frame instead. A lossy
// picture whose data is too short for its declared size is refused (BadHeader) before anything
// the size of the picture is allocated; so is one beyond the pixel bound (Unsupported).
Result<QImage> LoadWebPToBitmap(const std::string& path);
Result<QImage> LoadWebPToBitmap(std::span<const std::uint8_t> bytes);

// The first frame of an animated WebP (the whole canvas), or the picture of a still one. The
// Scaled form gives it at `width` × `height`, with libwebp's scaled decoding, for thumbnails.
// Either holds no picture the size of the canvas besides the one it returns.
Result<QImage> LoadWebPFirstFrame(std::span<const std::uint8_t> bytes);
Result<QImage> LoadWebPFirstFrameScaled(std::span<const std::uint8_t> bytes, int width, int height);

// Whether an animated WebP's canvas may be allocated: within the pixel bound (else Unsupported),
// and not far larger than its frames can paint (DataCouldShow; else BadHeader, as for a file
// the demuxer cannot read).
Result<void> CheckAnimatedWebP(std::span<const std::uint8_t> bytes);

// Decoded by libwebp straight to `width` × `height` (its scaled decoding), for thumbnails.
Result<QImage> LoadWebPScaled(std::span<const std::uint8_t> bytes, int width, int height);

// The colour space of the file's ICCP chunk: invalid when it has none, or one Qt cannot read.
// Every picture the functions above return is tagged with it.
QColorSpace WebPColourSpace(std::span<const std::uint8_t> bytes);

// Width and height from the bitstream header alone; false when the bytes are not WebP.
bool WebPSize(std::span<const std::uint8_t> bytes, int& width, int& height);

// True when the bytes "ANIM" occur anywhere in the file or buffer.
bool IsAnimatedFile(const std::string& path);
bool IsAnimatedBytes(std::span<const std::uint8_t> bytes);

// `width` × `height` RGBA pixels (rows top first, `stride` bytes apart) as a Format_ARGB32 copy.
QImage ImageFromRgba(const std::uint8_t* rgba, int width, int height, int stride);

}  // namespace quillix::imaging
