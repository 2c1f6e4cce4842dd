#pragma once

#include <QImage>
#include <QSize>

namespace quillix::viewer {

// `source` shrunk to `size` by area averaging: each pixel of the result is the mean of the source
// area it covers, weighted by coverage, in premultiplied colour so transparent pixels lend no
// colour. It runs on the calling thread alone (QImage::scaled spreads large pictures over Qt's
// global thread pool, which the window's own painting needs), so a worker that shrinks a picture
// uses one core. RGB32 gives RGB32; other 32-bit formats give ARGB32_Premultiplied. Sizes larger
// than the source on either side, and other formats, go to QImage::scaled.
QImage ShrinkImage(const QImage& source, QSize size);

}  // namespace quillix::viewer
