#pragma once

#include "common/result.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// giflib: every frame of a GIF composited into full pictures, with delays and loop count.
namespace quillix::imaging {

struct GifFrame {
    QImage image;     // the whole canvas after this frame, QImage::Format_ARGB32
    int delayMs = 0;  // as stored (hundredths of a second × 10); 0 when none
};

struct GifAnimation {
    std::vector<GifFrame> frames;
    // NETSCAPE2.0 loop count: 0 endless, n shows the animation n + 1 times; -1 when absent.
    int loopCount = -1;
};

// Every GIF a browser shows: frames are clipped to the logical screen, which grows to take in
// the first frame whole; a frame without any colour map is drawn in a grey ramp. A file cut
// short or damaged after its first decoded row keeps what was decoded up to the fault: the whole
// frames, and the rows of the frame it broke off in. Fails with giflib's error when not a single
// row decodes, with BadHeader for a file without frames or a canvas far larger than all its
// frames' data could paint (see DataCouldShow), with Unsupported for a canvas beyond 16384
// pixels a side or frames beyond 2^27 canvas pixels together. At most `frameLimit` frames are
// read.
Result<GifAnimation> DecodeGif(const std::string& path);
Result<GifAnimation> DecodeGif(std::span<const std::uint8_t> bytes, std::size_t frameLimit = SIZE_MAX);

// The first frame alone, holding no other picture while it is decoded.
Result<QImage> DecodeGifFirstFrame(std::span<const std::uint8_t> bytes);

// The order in which a frame of `height` rows stores them: top to bottom, or when interlaced in
// four passes (every 8th from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
std::vector<int> GifRowOrder(int height, bool interlace);

}  // namespace quillix::imaging
