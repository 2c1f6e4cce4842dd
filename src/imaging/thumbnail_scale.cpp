#include "imaging/thumbnail_scale.h"

#include "crypto/secure.h"
#include "imaging/secure_picture.h"

#include <utility>

namespace quillix::imaging {
namespace {

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

}  // namespace

Result<QImage> ScaleThumbnail(Result<QImage> decoded, QSize size)
{
    if (!decoded || decoded.value().size() == size) return decoded;
    QImage& full = decoded.value();
    PremultiplyInPlace(full);
    QImage scaled = full.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (full.isDetached()) crypto::SecureWipe(full.bits(), static_cast<std::size_t>(full.sizeInBytes()));
    return KeepSecure(std::move(scaled));
}

}  // namespace quillix::imaging
