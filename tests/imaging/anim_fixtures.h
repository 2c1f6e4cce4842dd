#pragma once

#include "imaging/animation_encoder.h"

#include <gif_lib.h>  // the tests name disposal methods by giflib's constants

#include <QImage>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Small GIF and WebP files built in the test with the imaging library's encoders.
namespace quillix::test {

using GifFixtureFrame = imaging::GifEncodeFrame;
using GifFixture = imaging::GifEncodeInput;
using WebPFixtureFrame = imaging::WebPAnimationFrame;

inline GifFixtureFrame FilledGifFrame(int left, int top, int width, int height, std::uint8_t index)
{
    GifFixtureFrame f;
    f.left = left;
    f.top = top;
    f.width = width;
    f.height = height;
    f.indices.assign(static_cast<std::size_t>(width * height), index);
    return f;
}

inline QImage Solid(int width, int height, QRgb colour)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// A fixture the encoder refuses is a broken test, so these throw and fail it loudly.
inline std::vector<std::uint8_t> ValueOrThrow(Result<std::vector<std::uint8_t>> encoded)
{
    if (!encoded) throw std::runtime_error(encoded.error().message);
    return std::move(encoded).value();
}

inline std::vector<std::uint8_t> EncodeGif(const GifFixture& fixture)
{
    return ValueOrThrow(imaging::EncodeGif(fixture));
}

// A lossless still WebP.
inline std::vector<std::uint8_t> EncodeStillWebP(const QImage& image)
{
    return ValueOrThrow(imaging::EncodeStillWebP(image));
}

// A lossless animated WebP of key frames only; every frame should differ from the one before.
inline std::vector<std::uint8_t> EncodeAnimatedWebP(const std::vector<WebPFixtureFrame>& frames, int loopCount)
{
    imaging::WebPAnimationOptions options;
    options.loopCount = loopCount;
    options.lossless = true;
    options.keyFramesOnly = true;
    return ValueOrThrow(imaging::EncodeAnimatedWebP(frames, options));
}

}  // namespace quillix::test
