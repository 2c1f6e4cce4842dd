#include "imaging/thumbnail.h"

#include "imaging/colour_profile.h"
#include "imaging/exif_orientation.h"
#include "imaging/heif_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"
#include "imaging/thumbnail_scale.h"
#include "imaging/webp_bridge.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quillix::imaging {
namespace {

Result<QSize> DrawableSize(int width, int height, int box)
{
    const QSize size = ThumbnailSize(width, height, box);
    if (size.width() <= 0 || size.height() <= 0)
        return MakeError(ErrorKind::Unsupported, "picture too thin for a thumbnail");
    return size;
}

}  // namespace

QSize ThumbnailSize(int width, int height, int box)
{
    if (width <= 0 || height <= 0 || box <= 0) return {};
    const double s = std::min(static_cast<double>(box) / width, static_cast<double>(box) / height);
    return {static_cast<int>(std::lround(width * s)), static_cast<int>(std::lround(height * s))};
}

namespace {

// The thumbnail in the colours its file declares.
Result<QImage> DecodeTaggedThumbnail(ImageFormat format, std::span<const std::uint8_t> bytes, int box)
{
    switch (format) {
    case ImageFormat::Jpeg: {
        Result<QSize> full = JpegSize(bytes);
        if (!full) return full.error();
        const PixelTransform upright = FromExifOrientation(ExifOrientation(bytes));
        const QSize shown = SwapsSides(upright) ? full.value().transposed() : full.value();
        Result<QSize> size = DrawableSize(shown.width(), shown.height(), box);
        if (!size) return size.error();
        const QSize stored = SwapsSides(upright) ? size.value().transposed() : size.value();
        Result<QImage> reduced = DecodeJpegScaled(bytes, stored.width(), stored.height());
        if (reduced && upright != PixelTransform::Identity) reduced = Transformed(reduced.value(), upright);
        // The reduced picture's own proportions may round differently: aim at the full size's thumbnail.
        return ScaleThumbnail(std::move(reduced), size.value());
    }
    case ImageFormat::WebP: {
        // The size of the canvas for an animation, which shows its first frame.
        int width = 0, height = 0;
        if (!WebPSize(bytes, width, height)) return MakeError(ErrorKind::BadHeader, "not a readable WebP picture");
        Result<QSize> size = DrawableSize(width, height, box);
        if (!size) return size.error();
        return LoadWebPFirstFrameScaled(bytes, size.value().width(), size.value().height());
    }
    case ImageFormat::Heif: return DecodeHeifThumbnail(bytes, box);
    default: {
        Result<QImage> image = DecodeStillTagged(format, bytes);
        if (!image) return image;
        Result<QSize> size = DrawableSize(image.value().width(), image.value().height(), box);
        if (!size) return size.error();
        return ScaleThumbnail(std::move(image), size.value());
    }
    }
}

}  // namespace

Result<QImage> DecodeThumbnail(ImageFormat format, std::span<const std::uint8_t> bytes, int box)
{
    // Converted once small: the full-size picture is never converted.
    Result<QImage> thumbnail = DecodeTaggedThumbnail(format, bytes, box);
    if (thumbnail) ShowInSrgb(thumbnail.value());
    return thumbnail;
}

}  // namespace quillix::imaging
