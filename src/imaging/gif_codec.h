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

Result<GifAnimation> DecodeGif(const std::string& path);
Result<GifAnimation> DecodeGif(std::span<const std::uint8_t> bytes);

}  // namespace quillix::imaging
