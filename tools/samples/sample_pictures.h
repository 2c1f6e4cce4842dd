#pragma once

#include "imaging/animation_encoder.h"

#include <QImage>

#include <vector>

// Pictures painted in code for the sample folder: only shapes and gradients, so no font has to
// be installed on the machine that builds them.
namespace quillix::samples {

enum class Scene { Sunset, Bokeh, Waves, Tiles, Rings, Bubbles };

// `scene` at `width` × `height`, varied by `number`, which is also painted in a corner as
// seven-segment digits when the picture is large enough to read it. Bubbles is the one scene
// with a transparent background (Format_ARGB32); the others are opaque (Format_RGB32).
QImage PaintScene(Scene scene, int width, int height, int number);

// A ball bouncing across a landscape, then a planet system turning, as `count` frames each.
std::vector<QImage> BouncingBallFrames(int width, int height, int count, int number);
std::vector<QImage> OrbitFrames(int width, int height, int count, int number);

// The 252-colour palette GIF samples use, and `picture` dithered onto it (4 × 4 ordered dither),
// one index per pixel, rows top first.
const std::vector<QRgb>& GifPalette();
std::vector<std::uint8_t> DitherToGifPalette(const QImage& picture);

}  // namespace quillix::samples
