#include "imaging/still_decoder.h"

#include "common/memory.h"
#include "common/unique_fd.h"
#include "imaging/bmp_codec.h"
#include "imaging/colour_profile.h"
#include "imaging/gif_codec.h"
#include "imaging/heif_codec.h"
#include "imaging/jpeg_codec.h"
#include "imaging/jxl_codec.h"
#include "imaging/png_codec.h"
#include "imaging/secure_picture.h"
#include "imaging/tiff_codec.h"
#include "imaging/webp_bridge.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace quillix::imaging {
namespace {

void FreePixels(void* pixels)
{
    std::free(pixels);
}

}  // namespace

QImage NewPicture(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0) return {};
    if (ContainerPixels::Active()) return NewSecurePicture(width, height, format);
    const std::size_t stride = static_cast<std::size_t>(width) * 4;
    const std::size_t size = stride * static_cast<std::size_t>(height);
    if (size < kHugePage) return QImage(width, height, format);
    const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
    void* pixels = std::aligned_alloc(kHugePage, rounded);
    if (!pixels) return {};
    AdviseHugePages(pixels, rounded);
    return QImage(static_cast<uchar*>(pixels), width, height, static_cast<qsizetype>(stride), format, FreePixels,
                  pixels);
}

bool DataCouldShow(std::int64_t declared, std::int64_t paintable)
{
    constexpr std::int64_t kAlwaysBelieved = std::int64_t{1} << 20;
    constexpr std::int64_t kFillerShare = 4;
    return declared <= std::max(kAlwaysBelieved, std::min(paintable, kMaxPixels) * kFillerShare);
}

Result<QImage> DecodeStillTagged(ImageFormat format, std::span<const std::uint8_t> bytes)
{
    switch (format) {
    case ImageFormat::Jpeg: return DecodeJpegUpright(bytes);
    case ImageFormat::Png: return DecodePng(bytes);
    case ImageFormat::Bmp: return DecodeBmp(bytes);
    case ImageFormat::WebP: return LoadWebPToBitmap(bytes);
    case ImageFormat::Gif: return DecodeGifFirstFrame(bytes);
    case ImageFormat::Tiff: return DecodeTiff(bytes);
    case ImageFormat::Jxl: return DecodeJxl(bytes);
    case ImageFormat::Heif: return DecodeHeif(bytes);
    case ImageFormat::Unknown: break;
    }
    return MakeError(ErrorKind::Unsupported, "unknown picture format");
}

Result<QImage> DecodeStill(ImageFormat format, std::span<const std::uint8_t> bytes)
{
    Result<QImage> image = DecodeStillTagged(format, bytes);
    if (image) ShowInSrgb(image.value());
    return image;
}

Result<QImage> DecodeStillFile(const std::string& path)
{
    const ImageFormat format = FormatFromExtension(path);
    if (format == ImageFormat::Unknown) return MakeError(ErrorKind::Unsupported, "unknown picture format: " + path);
    Result<std::vector<std::uint8_t>> bytes = ReadImageFile(path);
    if (!bytes) return bytes.error();
    return DecodeStill(format, bytes.value());
}

Result<QImage> LoadImageByContent(std::span<const std::uint8_t> bytes)
{
    for (const ImageFormat format : {ImageFormat::Jpeg, ImageFormat::Bmp, ImageFormat::WebP}) {
        Result<QImage> image = DecodeStill(format, bytes);
        if (image) return image;
    }
    // A phone's or camera's picture under another name: tried only when its first bytes say so.
    const ImageFormat announced = SniffFormat(bytes);
    if (announced == ImageFormat::Heif || announced == ImageFormat::Tiff || announced == ImageFormat::Jxl)
        return DecodeStill(announced, bytes);
    return MakeError(ErrorKind::BadHeader, "not a JPEG, BMP or WebP picture");
}

}  // namespace quillix::imaging
