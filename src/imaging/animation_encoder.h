#pragma once

#include "common/result.h"

#include <QImage>

#include <cstdint>
#include <optional>
#include <vector>

// Writing GIF (giflib) and still or animated WebP (libwebp, libwebpmux) files in memory.
namespace quillix::imaging {

// giflib's values, repeated so that callers need not include gif_lib.h.
inline constexpr int kGifDisposalUnspecified = 0;
inline constexpr int kGifNoTransparentColour = -1;

struct GifEncodeFrame {
    int left = 0, top = 0, width = 0, height = 0;
    std::vector<std::uint8_t> indices;  // width × height colour indices, rows top first
    std::vector<QRgb> localColours;     // empty: the frame uses the global colour map
    int delayCs = 0;                    // hundredths of a second
    int disposal = kGifDisposalUnspecified;
    int transparent = kGifNoTransparentColour;
    bool interlace = false;
    bool control = true;  // write a graphics control extension
};

struct GifEncodeInput {
    int width = 0, height = 0;
    std::vector<QRgb> globalColours;  // empty: no global colour map
    std::optional<int> loopCount;     // NETSCAPE2.0 extension when set
    std::vector<GifEncodeFrame> frames;
};

// A GIF89a of exactly what `input` describes. Beyond giflib's own checks nothing is refused, so
// frames may lie outside the canvas or be missing, as in damaged files seen in the wild. Fails
// with Unsupported when a frame has fewer indices than pixels or more than 256 colours are
// given, with Io when giflib refuses.
Result<std::vector<std::uint8_t>> EncodeGif(const GifEncodeInput& input);

// A lossless still WebP that keeps the colour under transparent pixels exactly.
Result<std::vector<std::uint8_t>> EncodeStillWebP(const QImage& picture);

struct WebPAnimationFrame {
    QImage image;  // canvas-sized
    int durationMs = 100;
};

struct WebPAnimationOptions {
    int loopCount = 0;  // 0 endless
    bool lossless = true;
    int quality = 75;            // 0..100; for lossless, the compression effort
    bool keyFramesOnly = false;  // every frame whole: no sub-rectangles to reason about
};

// An animated WebP. A frame equal to the one before is merged into it by the encoder, so a
// caller that needs every frame must make each differ. Fails with Unsupported without frames or
// when a frame's size differs from the first's, with Io when libwebp refuses.
Result<std::vector<std::uint8_t>> EncodeAnimatedWebP(const std::vector<WebPAnimationFrame>& frames,
                                                     const WebPAnimationOptions& options);

}  // namespace quillix::imaging
