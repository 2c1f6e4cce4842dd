#include "imaging/rotation.h"

#include "common/temp_file.h"
#include "container/container_file.h"
#include "imaging/bmp_transform.h"
#include "imaging/image_file.h"
#include "imaging/image_format.h"
#include "imaging/jpeg_transform.h"
#include "imaging/png_codec.h"
#include "imaging/tiff_codec.h"
#include "imaging/webp_bridge.h"
#include "imaging/webp_transform.h"

#include <webp/encode.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace quillix::imaging {
namespace {

bool ReplaceFile(const std::string& path, std::span<const std::uint8_t> bytes)
{
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    Result<TempFile> temp = TempFile::CreateFor(path, mode);
    if (!temp) return false;
    if (!WriteAll(temp.value().fd(), bytes)) return false;
    return temp.value().CommitAs(path).ok();
}

// The file turned in its own format; false on any failure.
bool RotateStill(const std::string& path, ImageFormat format, int direction)
{
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return false;
    const PixelTransform t = direction > 0 ? PixelTransform::Rotate90 : PixelTransform::Rotate270;
    Result<std::vector<std::uint8_t>> turned = MakeError(ErrorKind::Unsupported, "");
    switch (format) {
    case ImageFormat::Jpeg: turned = TurnJpeg(bytes.value(), direction); break;
    case ImageFormat::Png: turned = TransformPng(bytes.value(), t); break;
    case ImageFormat::Bmp: turned = TransformBmp(bytes.value(), t); break;
    case ImageFormat::WebP: turned = TransformWebP(bytes.value(), t); break;
    case ImageFormat::Tiff: turned = TurnTiff(bytes.value(), t); break;
    default: return false;
    }
    return turned && !turned.value().empty() && ReplaceFile(path, turned.value());
}

}  // namespace

QImage RotateBitmap90(const QImage& source, int direction)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) return {};
    const QImage src = source.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    QImage target(h, w, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (direction >= 0)
                target.setPixel(h - 1 - y, x, row[x] | 0xFF000000u);
            else
                target.setPixel(y, w - 1 - x, row[x] | 0xFF000000u);
        }
    }
    return target;
}

RotationOutcome RotateImageFile90(const std::string& path, int direction)
{
    using Kind = RotationOutcome::Kind;
    if (path.empty()) return {Kind::NotTurnable, path};
    if (direction == 0) return {Kind::Turned, path};
    if (container::IsEncryptedFile(path)) return {Kind::Encrypted, path};
    const ImageFormat format = FormatFromExtension(path);
    if (format == ImageFormat::Unknown || format == ImageFormat::Gif) return {Kind::NotTurnable, path};
    if (format == ImageFormat::WebP && IsAnimatedFile(path)) return {Kind::Animated, path};
    if (format == ImageFormat::Heif || format == ImageFormat::Jxl) return {Kind::Lossy, path};
    if (!RotateStill(path, format, direction)) return {Kind::Failed, path};
    return {Kind::Turned, path};
}

bool SaveBitmapToWebP(const std::string& path, const QImage& picture, int quality)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return false;
    // Format_RGB32 is B, G, R, 255 in memory on little-endian machines: what WebPEncodeBGRA reads.
    const QImage bgra = picture.convertToFormat(QImage::Format_RGB32);
    std::uint8_t* output = nullptr;
    const std::size_t size =
        WebPEncodeBGRA(bgra.constBits(), bgra.width(), bgra.height(), static_cast<int>(bgra.bytesPerLine()),
                       static_cast<float>(std::clamp(quality, 0, 100)), &output);
    const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> owned(output, &WebPFree);
    if (size == 0 || !output) return false;
    return ReplaceFile(path, std::span<const std::uint8_t>(output, size));
}

}  // namespace quillix::imaging
