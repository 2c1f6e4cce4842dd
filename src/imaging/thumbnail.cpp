#include "imaging/thumbnail.h"

#include "crypto/secure.h"
#include "imaging/colour_profile.h"
#include "imaging/exif_orientation.h"
#include "imaging/jpeg_codec.h"
#include "imaging/secure_picture.h"
#include "imaging/still_decoder.h"
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

// Qt's smooth scaling works on premultiplied pixels and converts into a second full-size copy
// when given others; done here in place, the full-size picture stays the only one.
void PremultiplyInPlace(QImage& image)
{
    if (image.format() != QImage::Format_ARGB32 || !image.isDetached()) return;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qPremultiply(row[x]);
    }
    image.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
}

Result<QImage> ScaleTo(Result<QImage> decoded, QSize size)
{
    if (!decoded || decoded.value().size() == size) return decoded;
    QImage& full = decoded.value();
    PremultiplyInPlace(full);
    QImage scaled = full.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // The full-size picture may have come out of a container: its pixels go with it.
    if (full.isDetached()) crypto::SecureWipe(full.bits(), static_cast<std::size_t>(full.sizeInBytes()));
    return KeepSecure(std::move(scaled));
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
        return ScaleTo(std::move(reduced), size.value());
    }
    case ImageFormat::WebP: {
        // The size of the canvas for an animation, which shows its first frame.
        int width = 0, height = 0;
        if (!WebPSize(bytes, width, height)) return MakeError(ErrorKind::BadHeader, "not a readable WebP picture");
        Result<QSize> size = DrawableSize(width, height, box);
        if (!size) return size.error();
        return LoadWebPFirstFrameScaled(bytes, size.value().width(), size.value().height());
    }
    default: {
        Result<QImage> image = DecodeStillTagged(format, bytes);
        if (!image) return image;
        Result<QSize> size = DrawableSize(image.value().width(), image.value().height(), box);
        if (!size) return size.error();
        return ScaleTo(std::move(image), size.value());
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
