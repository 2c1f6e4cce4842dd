#pragma once

#include "common/result.h"
#include "imaging/gif_codec.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>

// libjxl decoding: still pictures and animations, as the user sees them.
namespace quillix::imaging {

// How many threads libjxl may use for one picture. The gallery decodes its thumbnails on a pool
// that already keeps every core busy: there one thread is best. The viewer decodes one picture
// while the user waits: there all cores shorten the wait.
inline constexpr int kJxlOneThread = 1;
int JxlViewerThreads();

// The picture (an animation's first frame) turned as its orientation says, in 8 bits:
// QImage::Format_ARGB32 with unassociated alpha when it has alpha, else Format_RGB32; grey
// expanded to RGB. Tagged with the colour space its pixels are in, untagged for sRGB or for one
// QColorSpace cannot hold. Fails with Unsupported beyond kMaxPixels (before any picture is
// allocated), with Truncated for a file cut short and with BadHeader for damaged data.
Result<QImage> DecodeJxl(std::span<const std::uint8_t> bytes, int threads = kJxlOneThread);

// The size the picture is shown at (after its orientation), from its header alone.
Result<QSize> JxlSize(std::span<const std::uint8_t> bytes);

// Whether the file is an animation of more than one frame; reads frame headers, no pixels.
bool IsAnimatedJxl(std::span<const std::uint8_t> bytes);

// Every shown frame as a whole canvas in Format_ARGB32, with its delay in milliseconds; the loop
// count in GifAnimation's terms. Fails with Unsupported when the frames together exceed 2^27
// canvas pixels (checked from the frame headers, before any frame is decoded), otherwise as
// DecodeJxl.
Result<GifAnimation> DecodeJxlAnimation(std::span<const std::uint8_t> bytes, int threads = kJxlOneThread);

}  // namespace quillix::imaging
